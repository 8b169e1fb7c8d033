// In-process servers: classes entered in the registry under
// HKEY_CLASSES_ROOT\CLSID\{class}\InprocServer32, whose default value is the path
// of the shared library that serves them. The library is loaded on first use and
// stays loaded for the life of the process; objects come from the class factory
// that its DllGetClassObject hands out.
//
// Loading a library runs its code in this process, so a path from the registry is
// followed only when nobody else could have put it there or swapped the file behind
// it (see platform::LoadServerLibrary and platform::RegistryTrustProblem).
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <string>

#include "platform/com/com.h"
#include "platform/com/inproc_server.h"
#include "platform/com/server_library.h"
#include "platform/core/error_text.h"
#include "platform/registry/registry.h"

namespace {

using GetClassObjectEntry = HRESULT (*)(REFCLSID, REFIID, void**);

// Libraries already loaded, by path; never unloaded, so objects and factories
// handed out stay valid whatever their users do.
std::mutex& LibraryMutex() {
  static std::mutex m;
  return m;
}

std::map<std::string, void*>& Libraries() {
  static std::map<std::string, void*> libraries;
  return libraries;
}

std::string ServerKeyPath(REFCLSID clsid) { return "CLSID\\" + platform::GuidToString(clsid) + "\\InprocServer32"; }

// The library path entered for the class, or empty when the class has none.
std::string LookUpServerPath(REFCLSID clsid) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, ServerKeyPath(clsid).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  std::string path;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS && type == REG_SZ && size > 0) {
    path.resize(size);
    if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(path.data()), &size) == ERROR_SUCCESS)
      path.resize(path.find('\0') == std::string::npos ? size : path.find('\0'));
    else
      path.clear();
  }
  RegCloseKey(key);
  return path;
}

// Loads the library once its path and the registry that named it pass the checks; a
// refusal or a failure leaves the path and the reason for the log.
void* LoadServer(const std::string& path) {
  std::lock_guard lock(LibraryMutex());
  auto& libraries = Libraries();
  if (auto found = libraries.find(path); found != libraries.end()) return found->second;
  const auto refuse = [&](const std::string& reason) -> void* {
    platform::SetErrorText("In-process server " + path + " not loaded: " + reason);
    return nullptr;
  };
  if (const std::string problem = platform::RegistryTrustProblem(); !problem.empty()) return refuse(problem);
  std::string reason;
  void* handle = platform::LoadServerLibrary(path, reason);
  if (handle == nullptr) return refuse(reason);
  libraries.emplace(path, handle);
  return handle;
}

}  // namespace

namespace platform {

HRESULT CreateFromInprocServer(REFCLSID clsid, IUnknown* outer, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  const std::string path = LookUpServerPath(clsid);
  if (path.empty()) return REGDB_E_CLASSNOTREG;
  void* library = LoadServer(path);
  if (library == nullptr) return CO_E_DLLNOTFOUND;
  auto entry = reinterpret_cast<GetClassObjectEntry>(::dlsym(library, "DllGetClassObject"));
  if (entry == nullptr) {
    SetErrorText("In-process server " + path + " has no DllGetClassObject");
    return CO_E_ERRORINDLL;
  }
  ComPtr<IClassFactory> factory;
  const HRESULT hr = entry(clsid, IID_IClassFactory, factory.PutVoid());
  if (FAILED(hr)) return hr;
  if (!factory) return E_UNEXPECTED;
  return factory->CreateInstance(outer, riid, ppv);
}

LONG RegisterInprocServer(REFCLSID clsid, const char* libraryPath, const char* threadingModel) {
  HKEY key = nullptr;
  LONG rc = RegCreateKeyExA(HKEY_CLASSES_ROOT, ServerKeyPath(clsid).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_WRITE, nullptr, &key, nullptr);
  if (rc != ERROR_SUCCESS) return rc;
  const std::string path = libraryPath != nullptr ? libraryPath : "";
  rc = RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                      static_cast<DWORD>(path.size() + 1));
  if (rc == ERROR_SUCCESS && threadingModel != nullptr)
    rc = RegSetValueExA(key, "ThreadingModel", 0, REG_SZ, reinterpret_cast<const BYTE*>(threadingModel),
                        static_cast<DWORD>(std::char_traits<char>::length(threadingModel) + 1));
  RegCloseKey(key);
  return rc;
}

LONG UnregisterInprocServer(REFCLSID clsid) {
  const std::string classKey = "CLSID\\" + GuidToString(clsid);
  return RegDeleteTreeA(HKEY_CLASSES_ROOT, classKey.c_str());
}

}  // namespace platform
