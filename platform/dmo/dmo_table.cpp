#include "platform/dmo/dmo_table.h"

#include <cstring>
#include <optional>
#include <utility>

#include "platform/core/code_page.h"
#include "platform/registry/registry.h"

namespace platform::dmo_detail {
namespace {

constexpr const char* kObjectsKey = "DirectShow\\MediaObjects";
constexpr const char* kCategoriesKey = "DirectShow\\MediaObjects\\Categories";

// An open registry key, closed when it goes.
class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (handle_ != nullptr) RegCloseKey(handle_);
  }
  HKEY* Put() { return &handle_; }
  HKEY Get() const { return handle_; }

 private:
  HKEY handle_ = nullptr;
};

HRESULT FromRegistry(LONG rc) { return rc == ERROR_SUCCESS ? S_OK : MakeResult(0x80070000u | (rc & 0xFFFF)); }

std::string ObjectPath(REFCLSID clsid) { return std::string(kObjectsKey) + "\\" + GuidToString(clsid); }
std::string CategoryPath(REFGUID category) { return std::string(kCategoriesKey) + "\\" + GuidToString(category); }

std::u16string WideFromText(const std::string& text) {
  if (text.empty()) return {};
  const int units = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string wide(static_cast<std::size_t>(units), u'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
  return wide;
}

std::string TextFromWide(const WCHAR* wide) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string text(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), bytes, nullptr, nullptr);
  text.pop_back();  // the NUL
  return text;
}

// A value's bytes, or nothing when the value is absent.
std::optional<std::string> ReadValue(HKEY key, const char* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return std::nullopt;
  std::string data(size, '\0');
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
    return std::nullopt;
  data.resize(size);
  if (type == REG_SZ) data.resize(std::strlen(data.c_str()));
  return data;
}

LONG WriteTypes(HKEY key, const char* name, DWORD count, const DMO_PARTIAL_MEDIATYPE* types) {
  if (count == 0 || types == nullptr) return RegSetValueExA(key, name, 0, REG_BINARY, nullptr, 0);
  return RegSetValueExA(key, name, 0, REG_BINARY, reinterpret_cast<const BYTE*>(types),
                        static_cast<DWORD>(count * sizeof(DMO_PARTIAL_MEDIATYPE)));
}

std::vector<DMO_PARTIAL_MEDIATYPE> ReadTypes(HKEY key, const char* name) {
  std::vector<DMO_PARTIAL_MEDIATYPE> types;
  const std::optional<std::string> data = ReadValue(key, name);
  if (!data) return types;
  types.resize(data->size() / sizeof(DMO_PARTIAL_MEDIATYPE));
  if (!types.empty()) std::memcpy(types.data(), data->data(), types.size() * sizeof(DMO_PARTIAL_MEDIATYPE));
  return types;
}

bool SameOrAny(const GUID& a, const GUID& b) { return a == GUID_NULL || b == GUID_NULL || a == b; }

// True when no types were asked for, or the object handles one of them.
bool OffersAnyOf(const std::vector<DMO_PARTIAL_MEDIATYPE>& offered, DWORD count, const DMO_PARTIAL_MEDIATYPE* asked) {
  if (count == 0 || asked == nullptr) return true;
  for (DWORD i = 0; i < count; ++i)
    for (const auto& type : offered)
      if (SameOrAny(asked[i].type, type.type) && SameOrAny(asked[i].subtype, type.subtype)) return true;
  return false;
}

}  // namespace

HRESULT ListCategory(REFGUID category, DWORD flags, DWORD inCount, const DMO_PARTIAL_MEDIATYPE* inTypes, DWORD outCount,
                     const DMO_PARTIAL_MEDIATYPE* outTypes, std::vector<DmoEntry>& entries) {
  entries.clear();
  Key categoryKey;
  const LONG opened = RegOpenKeyExA(HKEY_CLASSES_ROOT, CategoryPath(category).c_str(), 0, KEY_READ, categoryKey.Put());
  if (opened == ERROR_FILE_NOT_FOUND) return S_OK;  // nothing registered in this category
  if (opened != ERROR_SUCCESS) return FromRegistry(opened);
  for (DWORD index = 0;; ++index) {
    char name[260];
    DWORD nameSize = sizeof name;
    const LONG rc = RegEnumKeyExA(categoryKey.Get(), index, name, &nameSize);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc == ERROR_MORE_DATA) continue;  // not a class identifier
    if (rc != ERROR_SUCCESS) return FromRegistry(rc);
    const std::optional<GUID> clsid = GuidFromString(name);
    if (!clsid) continue;
    Key objectKey;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ObjectPath(*clsid).c_str(), 0, KEY_READ, objectKey.Put()) != ERROR_SUCCESS)
      continue;  // a category entry left behind without its object
    const std::optional<std::string> keyed = ReadValue(objectKey.Get(), "Keyed");
    const bool isKeyed = keyed && keyed->size() >= 1 && (*keyed)[0] != '\0';
    if (isKeyed && (flags & DMO_ENUMF_INCLUDE_KEYED) == 0) continue;
    if (!OffersAnyOf(ReadTypes(objectKey.Get(), "InputTypes"), inCount, inTypes)) continue;
    if (!OffersAnyOf(ReadTypes(objectKey.Get(), "OutputTypes"), outCount, outTypes)) continue;
    entries.push_back({*clsid, WideFromText(ReadValue(objectKey.Get(), nullptr).value_or(std::string()))});
  }
  return S_OK;
}

}  // namespace platform::dmo_detail

using platform::dmo_detail::CategoryPath;
using platform::dmo_detail::FromRegistry;
using platform::dmo_detail::Key;
using platform::dmo_detail::ObjectPath;

HRESULT DMORegister(const WCHAR* szName, REFCLSID clsidDMO, REFGUID guidCategory, DWORD dwFlags, DWORD cInTypes,
                    const DMO_PARTIAL_MEDIATYPE* pInTypes, DWORD cOutTypes, const DMO_PARTIAL_MEDIATYPE* pOutTypes) {
  if (szName == nullptr) return E_POINTER;
  if ((cInTypes != 0 && pInTypes == nullptr) || (cOutTypes != 0 && pOutTypes == nullptr)) return E_POINTER;
  Key objectKey;
  LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, ObjectPath(clsidDMO).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_ALL_ACCESS, nullptr, objectKey.Put(), nullptr);
  if (rc != ERROR_SUCCESS) return FromRegistry(rc);
  const std::string name = platform::dmo_detail::TextFromWide(szName);
  rc = RegSetValueExA(objectKey.Get(), nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                      static_cast<DWORD>(name.size() + 1));
  if (rc == ERROR_SUCCESS) rc = platform::dmo_detail::WriteTypes(objectKey.Get(), "InputTypes", cInTypes, pInTypes);
  if (rc == ERROR_SUCCESS) rc = platform::dmo_detail::WriteTypes(objectKey.Get(), "OutputTypes", cOutTypes, pOutTypes);
  if (rc == ERROR_SUCCESS) {
    if (dwFlags & DMO_REGISTERF_IS_KEYED) {
      const DWORD one = 1;
      rc = RegSetValueExA(objectKey.Get(), "Keyed", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), sizeof one);
    } else {
      RegDeleteValueA(objectKey.Get(), "Keyed");
    }
  }
  if (rc != ERROR_SUCCESS) return FromRegistry(rc);
  const std::string entryPath = CategoryPath(guidCategory) + "\\" + platform::GuidToString(clsidDMO);
  Key entryKey;
  rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, entryPath.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr,
                       entryKey.Put(), nullptr);
  return FromRegistry(rc);
}

HRESULT DMOUnregister(REFCLSID clsidDMO, REFGUID guidCategory) {
  const std::string clsidText = platform::GuidToString(clsidDMO);
  bool removed = false;
  if (guidCategory == GUID_NULL) {
    // Every category that lists the object.
    Key categories;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, platform::dmo_detail::kCategoriesKey, 0, KEY_READ, categories.Put()) ==
        ERROR_SUCCESS) {
      std::vector<std::string> names;
      for (DWORD index = 0;; ++index) {
        char name[260];
        DWORD nameSize = sizeof name;
        const LONG rc = RegEnumKeyExA(categories.Get(), index, name, &nameSize);
        if (rc == ERROR_NO_MORE_ITEMS) break;
        if (rc == ERROR_SUCCESS) names.emplace_back(name);
      }
      for (const auto& name : names) {
        const std::string entryPath =
            std::string(platform::dmo_detail::kCategoriesKey) + "\\" + name + "\\" + clsidText;
        removed |= RegDeleteTreeA(HKEY_CLASSES_ROOT, entryPath.c_str()) == ERROR_SUCCESS;
      }
    }
  } else {
    const std::string entryPath = CategoryPath(guidCategory) + "\\" + clsidText;
    removed |= RegDeleteTreeA(HKEY_CLASSES_ROOT, entryPath.c_str()) == ERROR_SUCCESS;
  }
  removed |= RegDeleteTreeA(HKEY_CLASSES_ROOT, ObjectPath(clsidDMO).c_str()) == ERROR_SUCCESS;
  return removed ? S_OK : S_FALSE;
}
