#include "tests/platform/dmusic/fake_effect.h"

#include <atomic>

#include "platform/com/com.h"
#include "platform/core/waveformat.h"
#include "platform/dmo/dmo.h"
#include "platform/dsound/recording_sink.h"

namespace dmusic_test {
namespace {

class FakeEffect final : public IMediaObject, public IMediaObjectInPlace, public IRecordingSink {
 public:
  FakeEffect(bool recorder, bool picky) : recorder_(recorder), picky_(picky) {}

  HRESULT QueryInterface(REFIID riid, void** ppv) override {
    if (riid == IID_IUnknown || riid == IID_IMediaObject)
      *ppv = static_cast<IMediaObject*>(this);
    else if (riid == IID_IMediaObjectInPlace)
      *ppv = static_cast<IMediaObjectInPlace*>(this);
    else if (riid == IID_IRecordingSink && recorder_)
      *ppv = static_cast<IRecordingSink*>(this);
    else {
      *ppv = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    const ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT GetStreamCount(DWORD* in, DWORD* out) override {
    *in = *out = 1;
    return S_OK;
  }
  HRESULT SetInputType(DWORD, const DMO_MEDIA_TYPE* type, DWORD) override { return CheckType(type); }
  HRESULT SetOutputType(DWORD, const DMO_MEDIA_TYPE* type, DWORD) override { return CheckType(type); }
  HRESULT GetInputCurrentType(DWORD, DMO_MEDIA_TYPE*) override { return E_NOTIMPL; }
  HRESULT AllocateStreamingResources() override { return S_OK; }
  HRESULT FreeStreamingResources() override { return S_OK; }
  HRESULT Flush() override { return S_OK; }
  HRESULT Discontinuity(DWORD) override { return S_OK; }

  HRESULT Process(ULONG size, BYTE* data, REFERENCE_TIME, DWORD) override {
    EffectRecord& record = TheEffectRecord();
    std::lock_guard lock(record.lock);
    ++record.processCalls;
    record.bytes.insert(record.bytes.end(), data, data + size);
    return S_OK;
  }
  HRESULT Clone(IMediaObjectInPlace**) override { return E_NOTIMPL; }
  HRESULT GetLatency(REFERENCE_TIME* latency) override {
    *latency = 0;
    return S_OK;
  }

  HRESULT BeginRecording() override {
    EffectRecord& record = TheEffectRecord();
    std::lock_guard lock(record.lock);
    record.bytes.clear();
    ++record.beginRecordingCalls;
    return S_OK;
  }

 private:
  ~FakeEffect() = default;

  HRESULT CheckType(const DMO_MEDIA_TYPE* type) {
    if (picky_ || type == nullptr || !(type->majortype == MEDIATYPE_Audio) || !(type->subtype == MEDIASUBTYPE_PCM) ||
        !(type->formattype == FORMAT_WaveFormatEx) || type->cbFormat < sizeof(WAVEFORMATEX))
      return DMO_E_TYPE_NOT_ACCEPTED;
    std::lock_guard lock(TheEffectRecord().lock);
    ++TheEffectRecord().typesSet;
    return S_OK;
  }

  std::atomic<ULONG> refs_{1};
  bool recorder_;
  bool picky_;
};

template <bool Recorder, bool Picky>
HRESULT Create(REFIID riid, void** ppv) {
  auto* effect = new FakeEffect(Recorder, Picky);
  const HRESULT hr = effect->QueryInterface(riid, ppv);
  effect->Release();
  return hr;
}

}  // namespace

void EffectRecord::Clear() {
  std::lock_guard guard(lock);
  bytes.clear();
  processCalls = 0;
  beginRecordingCalls = 0;
  typesSet = 0;
}

std::vector<std::uint8_t> EffectRecord::Bytes() {
  std::lock_guard guard(lock);
  return bytes;
}

EffectRecord& TheEffectRecord() {
  static EffectRecord record;
  return record;
}

void RegisterTestEffects() {
  platform::RegisterBuiltinClass(CLSID_TestEffect, &Create<false, false>);
  platform::RegisterBuiltinClass(CLSID_TestRecorder, &Create<true, false>);
  platform::RegisterBuiltinClass(CLSID_TestPickyEffect, &Create<false, true>);
}

}  // namespace dmusic_test
