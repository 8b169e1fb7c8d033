#include "platform/com/com.h"

#include <cstdlib>
#include <mutex>
#include <vector>

namespace {

thread_local int t_initCount = 0;

struct BuiltinClass {
  CLSID clsid;
  platform::BuiltinCreator creator;
};

std::mutex& TableMutex() {
  static std::mutex m;
  return m;
}

std::vector<BuiltinClass>& Table() {
  static std::vector<BuiltinClass> table;
  return table;
}

platform::BuiltinCreator FindBuiltin(REFCLSID clsid) {
  std::lock_guard lock(TableMutex());
  for (const auto& entry : Table())
    if (entry.clsid == clsid) return entry.creator;
  return nullptr;
}

}  // namespace

HRESULT CoInitialize(void*) { return t_initCount++ == 0 ? S_OK : S_FALSE; }

void CoUninitialize() {
  if (t_initCount > 0) --t_initCount;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (t_initCount == 0) return CO_E_NOTINITIALIZED;
  if ((context & CLSCTX_INPROC) == 0) return REGDB_E_CLASSNOTREG;
  if (platform::BuiltinCreator creator = FindBuiltin(clsid)) {
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    return creator(riid, ppv);
  }
  return platform::CreateFromInprocServer(clsid, outer, riid, ppv);
}

void* CoTaskMemAlloc(std::size_t size) { return std::malloc(size == 0 ? 1 : size); }

void CoTaskMemFree(void* p) { std::free(p); }

namespace platform {

void RegisterBuiltinClass(REFCLSID clsid, BuiltinCreator creator) {
  std::lock_guard lock(TableMutex());
  for (auto& entry : Table())
    if (entry.clsid == clsid) {
      entry.creator = creator;
      return;
    }
  Table().push_back({clsid, creator});
}

void UnregisterBuiltinClass(REFCLSID clsid) {
  std::lock_guard lock(TableMutex());
  std::erase_if(Table(), [&](const BuiltinClass& entry) { return entry.clsid == clsid; });
}

bool IsComInitialized() { return t_initCount > 0; }

}  // namespace platform
