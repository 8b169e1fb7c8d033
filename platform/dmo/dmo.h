// DirectX media objects: the table of registered objects by category, and the
// interfaces an in-place audio effect offers.
#pragma once

#include "platform/com/unknown.h"
#include "platform/core/wintypes.h"

inline constexpr GUID DMOCATEGORY_AUDIO_EFFECT{
    0xF3602B3F, 0x0592, 0x48DF, {0xA4, 0xCD, 0x67, 0x47, 0x21, 0xE7, 0xEB, 0xEB}};
inline constexpr IID IID_IMediaObject{0xD8AD0F58, 0x5494, 0x4102, {0x97, 0xC5, 0xEC, 0x79, 0x8E, 0x59, 0xBC, 0xF4}};
inline constexpr IID IID_IMediaObjectInPlace{
    0x651B9AD0, 0x0FC7, 0x4AA9, {0x95, 0x38, 0xD8, 0x99, 0x31, 0x01, 0x07, 0x41}};
inline constexpr IID IID_IEnumDMO{0x2C3CD98A, 0x2BFA, 0x4A53, {0x9C, 0x27, 0x52, 0x49, 0xBA, 0x64, 0xBA, 0x0F}};
// Media types of uncompressed audio.
inline constexpr GUID MEDIATYPE_Audio{0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIASUBTYPE_PCM{0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID FORMAT_WaveFormatEx{0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

constexpr DWORD DMO_ENUMF_INCLUDE_KEYED = 0x1;
constexpr DWORD DMO_REGISTERF_IS_KEYED = 0x1;
constexpr DWORD DMO_INPLACE_NORMAL = 0;
constexpr DWORD DMO_INPLACE_ZERO = 1;

constexpr HRESULT DMO_E_INVALIDSTREAMINDEX = MakeResult(0x80040201);
constexpr HRESULT DMO_E_INVALIDTYPE = MakeResult(0x80040202);
constexpr HRESULT DMO_E_TYPE_NOT_SET = MakeResult(0x80040203);
constexpr HRESULT DMO_E_TYPE_NOT_ACCEPTED = MakeResult(0x80040207);

struct DMO_PARTIAL_MEDIATYPE {
  GUID type;
  GUID subtype;
};

struct DMO_MEDIA_TYPE {
  GUID majortype;
  GUID subtype;
  BOOL bFixedSizeSamples;
  BOOL bTemporalCompression;
  ULONG lSampleSize;
  GUID formattype;
  IUnknown* pUnk;
  ULONG cbFormat;
  BYTE* pbFormat;
};

// The media-object interface of an in-place audio effect: one input and one
// output stream of the same PCM type.
struct IMediaObject : IUnknown {
  virtual HRESULT GetStreamCount(DWORD* pcInputStreams, DWORD* pcOutputStreams) = 0;
  virtual HRESULT SetInputType(DWORD dwInputStreamIndex, const DMO_MEDIA_TYPE* pmt, DWORD dwFlags) = 0;
  virtual HRESULT SetOutputType(DWORD dwOutputStreamIndex, const DMO_MEDIA_TYPE* pmt, DWORD dwFlags) = 0;
  virtual HRESULT GetInputCurrentType(DWORD dwInputStreamIndex, DMO_MEDIA_TYPE* pmt) = 0;
  virtual HRESULT AllocateStreamingResources() = 0;
  virtual HRESULT FreeStreamingResources() = 0;
  virtual HRESULT Flush() = 0;
  virtual HRESULT Discontinuity(DWORD dwInputStreamIndex) = 0;

 protected:
  ~IMediaObject() = default;
};

struct IMediaObjectInPlace : IUnknown {
  // Processes ulSize bytes of the stream's type in place.
  virtual HRESULT Process(ULONG ulSize, BYTE* pData, REFERENCE_TIME refTimeStart, DWORD dwFlags) = 0;
  virtual HRESULT Clone(IMediaObjectInPlace** ppMediaObject) = 0;
  virtual HRESULT GetLatency(REFERENCE_TIME* pLatencyTime) = 0;

 protected:
  ~IMediaObjectInPlace() = default;
};

struct IEnumDMO : IUnknown {
  // Hands out up to cItemsToFetch entries; each name is allocated with
  // CoTaskMemAlloc and freed by the caller with CoTaskMemFree. S_FALSE when fewer
  // than asked were left.
  virtual HRESULT Next(DWORD cItemsToFetch, CLSID* pCLSID, WCHAR** Names, DWORD* pcItemsFetched) = 0;
  virtual HRESULT Skip(DWORD cItemsToSkip) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumDMO** ppEnum) = 0;

 protected:
  ~IEnumDMO() = default;
};

// The registered media objects of a category, in registration order.
HRESULT DMOEnum(REFGUID guidCategory, DWORD dwFlags, DWORD cInTypes, const DMO_PARTIAL_MEDIATYPE* pInTypes,
                DWORD cOutTypes, const DMO_PARTIAL_MEDIATYPE* pOutTypes, IEnumDMO** ppEnum);
HRESULT DMORegister(const WCHAR* szName, REFCLSID clsidDMO, REFGUID guidCategory, DWORD dwFlags, DWORD cInTypes,
                    const DMO_PARTIAL_MEDIATYPE* pInTypes, DWORD cOutTypes, const DMO_PARTIAL_MEDIATYPE* pOutTypes);
HRESULT DMOUnregister(REFCLSID clsidDMO, REFGUID guidCategory);
