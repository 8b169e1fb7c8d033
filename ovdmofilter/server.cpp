// The component's entry points: its class factory, and entering it in (or removing
// it from) the class table and the media-object table as an audio effect.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <atomic>
#include <new>
#include <string>

#include "ovdmofilter/capture_filter.h"
#include "ovdmofilter/ovdmofilter_ids.h"
#include "platform/com/inproc_server.h"
#include "platform/dmo/dmo.h"

#define OVDMOFILTER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr HRESULT SELFREG_E_CLASS = MakeResult(0x80040201);

// LockServer's count: a client may keep the library wanted without any object.
std::atomic<long>& ServerLocks() {
  static std::atomic<long> locks{0};
  return locks;
}

// The factory is a static object: its references keep nothing alive.
class CCaptureFilterFactory final : public IClassFactory {
 public:
  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_IClassFactory) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* filter = new (std::nothrow) ovdmofilter::CCaptureFilter();
    if (filter == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = filter->QueryInterface(riid, ppv);
    filter->Release();  // the creation reference; the caller holds the one it asked for
    return hr;
  }

  HRESULT LockServer(BOOL lock) override {
    if (lock)
      ++ServerLocks();
    else
      --ServerLocks();
    return S_OK;
  }
};

CCaptureFilterFactory& Factory() {
  static CCaptureFilterFactory factory;
  return factory;
}

// This library's own full path.
std::string OwnPath() {
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(&OwnPath), &info) == 0 || info.dli_fname == nullptr) return {};
  char resolved[PATH_MAX];
  return ::realpath(info.dli_fname, resolved) != nullptr ? std::string(resolved) : std::string(info.dli_fname);
}

const DMO_PARTIAL_MEDIATYPE kPcmAudio{MEDIATYPE_Audio, MEDIASUBTYPE_PCM};

}  // namespace

OVDMOFILTER_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!(rclsid == CLSID_OVDMOFilter)) return CLASS_E_CLASSNOTAVAILABLE;
  return Factory().QueryInterface(riid, ppv);
}

OVDMOFILTER_EXPORT HRESULT DllCanUnloadNow() {
  return ovdmofilter::CCaptureFilter::LiveObjects() == 0 && ServerLocks().load() == 0 ? S_OK : S_FALSE;
}

OVDMOFILTER_EXPORT HRESULT DllRegisterServer() {
  const std::string path = OwnPath();
  if (path.empty()) return SELFREG_E_CLASS;
  if (platform::RegisterInprocServer(CLSID_OVDMOFilter, path.c_str(), "Both") != 0) return SELFREG_E_CLASS;
  return DMORegister(kOVDMOFilterName, CLSID_OVDMOFilter, DMOCATEGORY_AUDIO_EFFECT, 0, 1, &kPcmAudio, 1, &kPcmAudio);
}

OVDMOFILTER_EXPORT HRESULT DllUnregisterServer() {
  DMOUnregister(CLSID_OVDMOFilter, DMOCATEGORY_AUDIO_EFFECT);
  platform::UnregisterInprocServer(CLSID_OVDMOFilter);
  return S_OK;
}
