// DMOEnum: an enumerator over a snapshot of a category's registered objects.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "platform/com/com.h"
#include "platform/com/com_object.h"
#include "platform/dmo/dmo.h"
#include "platform/dmo/dmo_table.h"

namespace {

using platform::dmo_detail::DmoEntry;

class CEnumDMO final : public platform::ComObject<IEnumDMO, IID_IEnumDMO> {
 public:
  explicit CEnumDMO(std::vector<DmoEntry> entries, std::size_t position = 0)
      : entries_(std::move(entries)), position_(position) {}

  HRESULT Next(DWORD cItemsToFetch, CLSID* pCLSID, WCHAR** Names, DWORD* pcItemsFetched) override {
    if (pcItemsFetched != nullptr) *pcItemsFetched = 0;
    if (cItemsToFetch == 0) return S_OK;
    if (pCLSID == nullptr || (pcItemsFetched == nullptr && cItemsToFetch != 1)) return E_POINTER;
    std::lock_guard lock(mutex_);
    const std::size_t count = std::min<std::size_t>(cItemsToFetch, entries_.size() - position_);
    if (Names != nullptr) {
      // Every name is allocated before anything is handed out, so a failure leaves
      // the caller nothing to free.
      for (std::size_t i = 0; i < count; ++i) {
        const std::u16string& name = entries_[position_ + i].name;
        Names[i] = static_cast<WCHAR*>(CoTaskMemAlloc((name.size() + 1) * sizeof(WCHAR)));
        if (Names[i] == nullptr) {
          for (std::size_t k = 0; k < i; ++k) {
            CoTaskMemFree(Names[k]);
            Names[k] = nullptr;
          }
          return E_OUTOFMEMORY;
        }
        std::memcpy(Names[i], name.c_str(), (name.size() + 1) * sizeof(WCHAR));
      }
    }
    for (std::size_t i = 0; i < count; ++i) pCLSID[i] = entries_[position_ + i].clsid;
    position_ += count;
    if (pcItemsFetched != nullptr) *pcItemsFetched = static_cast<DWORD>(count);
    return count == cItemsToFetch ? S_OK : S_FALSE;
  }

  HRESULT Skip(DWORD cItemsToSkip) override {
    std::lock_guard lock(mutex_);
    const std::size_t left = entries_.size() - position_;
    position_ += std::min<std::size_t>(cItemsToSkip, left);
    return cItemsToSkip <= left ? S_OK : S_FALSE;
  }

  HRESULT Reset() override {
    std::lock_guard lock(mutex_);
    position_ = 0;
    return S_OK;
  }

  HRESULT Clone(IEnumDMO** ppEnum) override {
    if (ppEnum == nullptr) return E_POINTER;
    std::lock_guard lock(mutex_);
    *ppEnum = new (std::nothrow) CEnumDMO(entries_, position_);
    return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
  }

 private:
  ~CEnumDMO() override = default;

  std::mutex mutex_;
  const std::vector<DmoEntry> entries_;
  std::size_t position_;
};

}  // namespace

HRESULT DMOEnum(REFGUID guidCategory, DWORD dwFlags, DWORD cInTypes, const DMO_PARTIAL_MEDIATYPE* pInTypes,
                DWORD cOutTypes, const DMO_PARTIAL_MEDIATYPE* pOutTypes, IEnumDMO** ppEnum) {
  if (ppEnum == nullptr) return E_POINTER;
  *ppEnum = nullptr;
  if ((cInTypes != 0 && pInTypes == nullptr) || (cOutTypes != 0 && pOutTypes == nullptr)) return E_POINTER;
  std::vector<DmoEntry> entries;
  if (const HRESULT hr =
          platform::dmo_detail::ListCategory(guidCategory, dwFlags, cInTypes, pInTypes, cOutTypes, pOutTypes, entries);
      FAILED(hr))
    return hr;
  *ppEnum = new (std::nothrow) CEnumDMO(std::move(entries));
  return *ppEnum != nullptr ? S_OK : E_OUTOFMEMORY;
}
