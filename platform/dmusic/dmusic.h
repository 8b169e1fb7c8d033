// The music engine's interfaces: DirectMusic 8 as the program uses it, with the
// real identifiers, structures and constants. The objects behind them are ours
// (FluidSynth does the synthesis); only what the program and its tool call is
// declared here.
#pragma once

#include <cstddef>

#include "platform/com/unknown.h"
#include "platform/core/dmerror.h"
#include "platform/core/wintypes.h"

struct IDirectMusicTool;
struct IDirectMusicGraph;
struct IDirectMusicPerformance;
struct IDirectSound;
struct IDirectSoundBuffer8;

// ---- Identifiers -----------------------------------------------------------
inline constexpr CLSID CLSID_DirectMusic{0x636B9F10, 0x0C7D, 0x11D1, {0x95, 0xB2, 0x00, 0x20, 0xAF, 0xDC, 0x74, 0x21}};
inline constexpr CLSID CLSID_DirectMusicPerformance{
    0xD2AC2881, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
inline constexpr CLSID CLSID_DirectMusicSegment{
    0xD2AC2882, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
inline constexpr CLSID CLSID_DirectMusicLoader{
    0xD2AC2892, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};

inline constexpr IID IID_IDirectMusic8{0x2D3629F7, 0x813D, 0x4939, {0x85, 0x08, 0xF0, 0x5C, 0x6B, 0x75, 0xFD, 0x97}};
inline constexpr IID IID_IDirectMusicPerformance{
    0x07D43D03, 0x6523, 0x11D2, {0x87, 0x1D, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
inline constexpr IID IID_IDirectMusicPerformance8{
    0x679C4137, 0xC62E, 0x4147, {0xB2, 0xB4, 0x9D, 0x56, 0x9A, 0xCB, 0x25, 0x4C}};
inline constexpr IID IID_IDirectMusicLoader8{
    0x19E7C08C, 0x0A44, 0x4E6A, {0xA1, 0x16, 0x59, 0x5A, 0x7C, 0xD5, 0xDE, 0x8C}};
inline constexpr IID IID_IDirectMusicSegment{
    0xF96029A2, 0x4282, 0x11D2, {0x87, 0x17, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
inline constexpr IID IID_IDirectMusicSegment8{
    0xC6784488, 0x41A3, 0x418F, {0xAA, 0x15, 0xB3, 0x50, 0x93, 0xBA, 0x42, 0xD4}};
inline constexpr IID IID_IDirectMusicSegmentState{
    0xA3AFDCC7, 0xD3EE, 0x11D1, {0xBC, 0x8D, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEB}};
inline constexpr IID IID_IDirectMusicAudioPath{
    0xC87631F5, 0x23BE, 0x4986, {0x88, 0x36, 0x05, 0x83, 0x2F, 0xCC, 0x48, 0xF9}};
inline constexpr IID IID_IDirectMusicGraph{
    0x2BEFC277, 0x5497, 0x11D2, {0xBC, 0xCB, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEB}};
inline constexpr IID IID_IDirectMusicTool{0xD2AC28BA, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};

inline constexpr GUID GUID_NOTIFICATION_SEGMENT{
    0xD2AC2899, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
inline constexpr GUID GUID_PerfMasterTempo{
    0xD2AC28B0, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
inline constexpr GUID GUID_PerfMasterVolume{
    0xD2AC28B1, 0xB39B, 0x11D1, {0x87, 0x04, 0x00, 0x60, 0x08, 0x93, 0xB1, 0xBD}};
inline constexpr GUID GUID_PerfAutoDownload{
    0xFB09565B, 0x3631, 0x11D2, {0xBC, 0xB8, 0x00, 0xA0, 0xC9, 0x22, 0xE6, 0xEB}};
inline constexpr GUID GUID_StandardMIDIFile{
    0x06621075, 0xE92E, 0x11D1, {0xA8, 0xC5, 0x00, 0xC0, 0x4F, 0xA3, 0x72, 0x6E}};

// ---- Performance messages --------------------------------------------------
constexpr DWORD DMUS_PMSGT_MIDI = 0;
constexpr DWORD DMUS_PMSGT_NOTE = 1;
constexpr DWORD DMUS_PMSGT_SYSEX = 2;
constexpr DWORD DMUS_PMSGT_NOTIFICATION = 3;
constexpr DWORD DMUS_PMSGT_TEMPO = 4;
constexpr DWORD DMUS_PMSGT_CURVE = 5;
constexpr DWORD DMUS_PMSGT_TIMESIG = 6;
constexpr DWORD DMUS_PMSGT_PATCH = 7;
constexpr DWORD DMUS_PMSGT_TRANSPOSE = 8;
constexpr DWORD DMUS_PMSGT_CHANNEL_PRIORITY = 9;
constexpr DWORD DMUS_PMSGT_STOP = 10;
constexpr DWORD DMUS_PMSGT_DIRTY = 11;
constexpr DWORD DMUS_PMSGT_USER = 255;

constexpr DWORD DMUS_PMSGF_REFTIME = 1;
constexpr DWORD DMUS_PMSGF_MUSICTIME = 2;
constexpr DWORD DMUS_PMSGF_TOOL_IMMEDIATE = 4;
constexpr DWORD DMUS_PMSGF_TOOL_QUEUE = 8;
constexpr DWORD DMUS_PMSGF_TOOL_ATTIME = 0x10;
constexpr DWORD DMUS_PMSGF_TOOL_FLUSH = 0x20;
constexpr DWORD DMUS_PMSGF_LOCKTOREFTIME = 0x40;
constexpr DWORD DMUS_PMSGF_DX8 = 0x80;

// The common header of every performance message.
struct DMUS_PMSG {
  DWORD dwSize;
  REFERENCE_TIME rtTime;
  MUSIC_TIME mtTime;
  DWORD dwFlags;
  DWORD dwPChannel;
  DWORD dwVirtualTrackID;
  IDirectMusicTool* pTool;
  IDirectMusicGraph* pGraph;
  DWORD dwType;
  DWORD dwVoiceID;
  DWORD dwGroupID;
  IUnknown* punkUser;
};

struct DMUS_MIDI_PMSG : DMUS_PMSG {
  BYTE bStatus;
  BYTE bByte1;
  BYTE bByte2;
  BYTE bPad[1];
};

struct DMUS_NOTE_PMSG : DMUS_PMSG {
  MUSIC_TIME mtDuration;
  WORD wMusicValue;
  WORD wMeasure;
  short nOffset;
  BYTE bBeat;
  BYTE bGrid;
  BYTE bVelocity;
  BYTE bFlags;
  BYTE bTimeRange;
  BYTE bDurRange;
  BYTE bVelRange;
  BYTE bPlayModeFlags;
  BYTE bSubChordLevel;
  BYTE bMidiValue;
  char cTranspose;
};
constexpr BYTE DMUS_NOTEF_NOTEON = 1;

struct DMUS_PATCH_PMSG : DMUS_PMSG {
  BYTE byInstrument;
  BYTE byMSB;
  BYTE byLSB;
  BYTE byPad[1];
};

struct DMUS_TEMPO_PMSG : DMUS_PMSG {
  double dblTempo;  // beats a minute
};

struct DMUS_SYSEX_PMSG : DMUS_PMSG {
  DWORD dwLen;
  BYTE abData[1];  // dwLen bytes follow
};

struct DMUS_NOTIFICATION_PMSG : DMUS_PMSG {
  GUID guidNotificationType;
  DWORD dwNotificationOption;
  DWORD dwField1;
  DWORD dwField2;
};

constexpr DWORD DMUS_NOTIFICATION_SEGSTART = 0;
constexpr DWORD DMUS_NOTIFICATION_SEGEND = 1;
constexpr DWORD DMUS_NOTIFICATION_SEGALMOSTEND = 2;
constexpr DWORD DMUS_NOTIFICATION_SEGLOOP = 3;
constexpr DWORD DMUS_NOTIFICATION_SEGABORT = 4;

// ---- Ports -----------------------------------------------------------------
constexpr DWORD DMUS_PC_INPUTCLASS = 0;
constexpr DWORD DMUS_PC_OUTPUTCLASS = 1;
constexpr DWORD DMUS_PC_DLS = 0x1;
constexpr DWORD DMUS_PC_EXTERNAL = 0x2;
constexpr DWORD DMUS_PC_SOFTWARESYNTH = 0x4;
constexpr DWORD DMUS_PC_GMINHARDWARE = 0x10;
constexpr DWORD DMUS_PC_DIRECTSOUND = 0x80;
constexpr DWORD DMUS_PC_SHAREABLE = 0x100;
constexpr DWORD DMUS_PC_DLS2 = 0x200;
constexpr DWORD DMUS_PC_AUDIOPATH = 0x400;
constexpr DWORD DMUS_PC_WAVE = 0x800;
constexpr DWORD DMUS_PORT_WINMM_DRIVER = 0;
constexpr DWORD DMUS_PORT_USER_MODE_SYNTH = 1;
constexpr DWORD DMUS_PORT_KERNEL_MODE = 2;

struct DMUS_PORTCAPS {
  DWORD dwSize;
  DWORD dwFlags;
  GUID guidPort;
  DWORD dwClass;
  DWORD dwType;
  DWORD dwMemorySize;
  DWORD dwMaxChannelGroups;
  DWORD dwMaxVoices;
  DWORD dwMaxAudioChannels;
  DWORD dwEffectFlags;
  WCHAR wszDescription[128];
};
static_assert(sizeof(DMUS_PORTCAPS) == 308);

// ---- Audio set-up ----------------------------------------------------------
constexpr DWORD DMUS_AUDIOPARAMS_FEATURES = 0x1;
constexpr DWORD DMUS_AUDIOPARAMS_VOICES = 0x2;
constexpr DWORD DMUS_AUDIOPARAMS_SAMPLERATE = 0x4;
constexpr DWORD DMUS_AUDIOPARAMS_DEFAULTSYNTH = 0x8;
constexpr DWORD DMUS_AUDIOF_3D = 0x1;
constexpr DWORD DMUS_AUDIOF_ENVIRON = 0x2;
constexpr DWORD DMUS_AUDIOF_EAX = 0x4;
constexpr DWORD DMUS_AUDIOF_DMOS = 0x8;
constexpr DWORD DMUS_AUDIOF_STREAMING = 0x10;
constexpr DWORD DMUS_AUDIOF_BUFFERS = 0x20;
constexpr DWORD DMUS_AUDIOF_ALL = 0x3F;

struct DMUS_AUDIOPARAMS {
  DWORD dwSize;
  BOOL fInitNow;
  DWORD dwValidData;
  DWORD dwFeatures;
  DWORD dwVoices;
  DWORD dwSampleRate;
  CLSID clsidDefaultSynth;
};
static_assert(sizeof(DMUS_AUDIOPARAMS) == 40);

constexpr DWORD DMUS_APATH_SHARED_STEREOPLUSREVERB = 1;
constexpr DWORD DMUS_APATH_DYNAMIC_3D = 6;
constexpr DWORD DMUS_APATH_DYNAMIC_MONO = 7;
constexpr DWORD DMUS_APATH_DYNAMIC_STEREO = 8;

constexpr DWORD DMUS_PCHANNEL_ALL = 0xFFFFFFFB;
constexpr DWORD DMUS_PATH_SEGMENT = 0x1000;
constexpr DWORD DMUS_PATH_SEGMENT_TRACK = 0x1100;
constexpr DWORD DMUS_PATH_SEGMENT_GRAPH = 0x1200;
constexpr DWORD DMUS_PATH_SEGMENT_TOOL = 0x1300;
constexpr DWORD DMUS_PATH_AUDIOPATH = 0x2000;
constexpr DWORD DMUS_PATH_AUDIOPATH_GRAPH = 0x2200;
constexpr DWORD DMUS_PATH_AUDIOPATH_TOOL = 0x2300;
constexpr DWORD DMUS_PATH_PERFORMANCE = 0x3000;
constexpr DWORD DMUS_PATH_PERFORMANCE_GRAPH = 0x3200;
constexpr DWORD DMUS_PATH_PERFORMANCE_TOOL = 0x3300;
constexpr DWORD DMUS_PATH_PORT = 0x4000;
constexpr DWORD DMUS_PATH_BUFFER = 0x6000;
constexpr DWORD DMUS_PATH_BUFFER_DMO = 0x6100;
constexpr DWORD DMUS_PATH_MIXIN_BUFFER = 0x7000;
constexpr DWORD DMUS_PATH_MIXIN_BUFFER_DMO = 0x7100;
constexpr DWORD DMUS_PATH_PRIMARY_BUFFER = 0x8000;

constexpr DWORD DMUS_SEGF_REFTIME = 0x40;
constexpr DWORD DMUS_SEGF_SECONDARY = 0x80;
constexpr DWORD DMUS_SEGF_QUEUE = 0x100;
constexpr DWORD DMUS_SEGF_CONTROL = 0x200;

// ---- Loading ---------------------------------------------------------------
constexpr DWORD DMUS_OBJ_OBJECT = 0x1;
constexpr DWORD DMUS_OBJ_CLASS = 0x2;
constexpr DWORD DMUS_OBJ_NAME = 0x4;
constexpr DWORD DMUS_OBJ_CATEGORY = 0x8;
constexpr DWORD DMUS_OBJ_FILENAME = 0x10;
constexpr DWORD DMUS_OBJ_FULLPATH = 0x20;
constexpr DWORD DMUS_OBJ_URL = 0x40;
constexpr DWORD DMUS_OBJ_VERSION = 0x80;
constexpr DWORD DMUS_OBJ_DATE = 0x100;
constexpr DWORD DMUS_OBJ_LOADED = 0x200;
constexpr DWORD DMUS_OBJ_MEMORY = 0x400;
constexpr DWORD DMUS_OBJ_STREAM = 0x800;

// Room for any path the platform accepts (Linux's PATH_MAX), so a long path is
// never cut.
constexpr std::size_t DMUS_MAX_FILENAME = 4096;
constexpr std::size_t DMUS_MAX_NAME = 64;
constexpr std::size_t DMUS_MAX_CATEGORY = 64;

struct DMUS_VERSION {
  DWORD dwVersionMS;
  DWORD dwVersionLS;
};

struct DMUS_OBJECTDESC {
  DWORD dwSize;
  DWORD dwValidData;
  GUID guidObject;
  GUID guidClass;
  LONGLONG ftDate;
  DMUS_VERSION vVersion;
  WCHAR wszName[DMUS_MAX_NAME];
  WCHAR wszCategory[DMUS_MAX_CATEGORY];
  WCHAR wszFileName[DMUS_MAX_FILENAME];
  LONGLONG llMemLength;
  BYTE* pbMemData;
  IUnknown* pStream;
};

// ---- Interfaces ------------------------------------------------------------
struct IDirectMusicTool : IUnknown {
  virtual HRESULT Init(IDirectMusicGraph* pGraph) = 0;
  virtual HRESULT GetMsgDeliveryType(DWORD* pdwDeliveryType) = 0;
  virtual HRESULT GetMediaTypeArraySize(DWORD* pdwNumElements) = 0;
  virtual HRESULT GetMediaTypes(DWORD** padwMediaTypes, DWORD dwNumElements) = 0;
  virtual HRESULT ProcessPMsg(IDirectMusicPerformance* pPerf, DMUS_PMSG* pPMSG) = 0;
  virtual HRESULT Flush(IDirectMusicPerformance* pPerf, DMUS_PMSG* pPMSG, REFERENCE_TIME rtTime) = 0;

 protected:
  ~IDirectMusicTool() = default;
};

struct IDirectMusicGraph : IUnknown {
  virtual HRESULT StampPMsg(DMUS_PMSG* pPMSG) = 0;
  virtual HRESULT InsertTool(IDirectMusicTool* pTool, DWORD* pdwPChannels, DWORD cPChannels, LONG lIndex) = 0;
  virtual HRESULT GetTool(DWORD dwIndex, IDirectMusicTool** ppTool) = 0;
  virtual HRESULT RemoveTool(IDirectMusicTool* pTool) = 0;

 protected:
  ~IDirectMusicGraph() = default;
};

struct IDirectMusicSegmentState : IUnknown {
  virtual HRESULT GetStartTime(MUSIC_TIME* pmtStart) = 0;

 protected:
  ~IDirectMusicSegmentState() = default;
};

struct IDirectMusicSegment : IUnknown {
  virtual HRESULT GetLength(MUSIC_TIME* pmtLength) = 0;
  virtual HRESULT SetLength(MUSIC_TIME mtLength) = 0;
  virtual HRESULT GetRepeats(DWORD* pdwRepeats) = 0;
  virtual HRESULT SetRepeats(DWORD dwRepeats) = 0;
  virtual HRESULT SetParam(REFGUID rguidType, DWORD dwGroupBits, DWORD dwIndex, MUSIC_TIME mtTime, void* pParam) = 0;

 protected:
  ~IDirectMusicSegment() = default;
};

struct IDirectMusicSegment8 : IDirectMusicSegment {
 protected:
  ~IDirectMusicSegment8() = default;
};

struct IDirectMusicAudioPath : IUnknown {
  virtual HRESULT GetObjectInPath(DWORD dwPChannel, DWORD dwStage, DWORD dwBuffer, REFGUID guidObject, DWORD dwIndex,
                                  REFGUID iidInterface, void** ppObject) = 0;
  virtual HRESULT Activate(BOOL fActivate) = 0;
  virtual HRESULT SetVolume(LONG lVolume, DWORD dwDuration) = 0;

 protected:
  ~IDirectMusicAudioPath() = default;
};

struct IDirectMusicPerformance : IUnknown {
  virtual HRESULT Stop(IDirectMusicSegment* pSegment, IDirectMusicSegmentState* pSegmentState, MUSIC_TIME mtTime,
                       DWORD dwFlags) = 0;
  virtual HRESULT GetTime(REFERENCE_TIME* prtNow, MUSIC_TIME* pmtNow) = 0;
  virtual HRESULT AllocPMsg(ULONG cb, DMUS_PMSG** ppPMSG) = 0;
  virtual HRESULT SendPMsg(DMUS_PMSG* pPMSG) = 0;
  virtual HRESULT FreePMsg(DMUS_PMSG* pPMSG) = 0;
  virtual HRESULT MusicToReferenceTime(MUSIC_TIME mtTime, REFERENCE_TIME* prtTime) = 0;
  virtual HRESULT ReferenceToMusicTime(REFERENCE_TIME rtTime, MUSIC_TIME* pmtTime) = 0;
  virtual HRESULT GetGraph(IDirectMusicGraph** ppGraph) = 0;
  virtual HRESULT AddNotificationType(REFGUID rguidNotificationType) = 0;
  virtual HRESULT RemoveNotificationType(REFGUID rguidNotificationType) = 0;
  virtual HRESULT GetNotificationPMsg(DMUS_NOTIFICATION_PMSG** ppNotificationPMsg) = 0;
  virtual HRESULT GetGlobalParam(REFGUID rguidType, void* pParam, DWORD dwSize) = 0;
  virtual HRESULT SetGlobalParam(REFGUID rguidType, void* pParam, DWORD dwSize) = 0;
  virtual HRESULT CloseDown() = 0;

 protected:
  ~IDirectMusicPerformance() = default;
};

struct IDirectMusic8;

struct IDirectMusicPerformance8 : IDirectMusicPerformance {
  virtual HRESULT InitAudio(IDirectMusic8** ppDirectMusic, IDirectSound** ppDirectSound, HWND hWnd,
                            DWORD dwDefaultPathType, DWORD dwPChannelCount, DWORD dwFlags,
                            DMUS_AUDIOPARAMS* pParams) = 0;
  virtual HRESULT PlaySegmentEx(IUnknown* pSource, WCHAR* pwzSegmentName, IUnknown* pTransition, DWORD dwFlags,
                                LONGLONG i64StartTime, IDirectMusicSegmentState** ppSegmentState, IUnknown* pFrom,
                                IUnknown* pAudioPath) = 0;
  virtual HRESULT CreateStandardAudioPath(DWORD dwType, DWORD dwPChannelCount, BOOL fActivate,
                                          IDirectMusicAudioPath** ppNewPath) = 0;

 protected:
  ~IDirectMusicPerformance8() = default;
};

struct IDirectMusic8 : IUnknown {
  virtual HRESULT EnumPort(DWORD dwIndex, DMUS_PORTCAPS* pPortCaps) = 0;
  virtual HRESULT Activate(BOOL fEnable) = 0;
  virtual HRESULT SetDirectSound(IDirectSound* pDirectSound, HWND hWnd) = 0;

 protected:
  ~IDirectMusic8() = default;
};

struct IDirectMusicLoader8 : IUnknown {
  virtual HRESULT GetObject(DMUS_OBJECTDESC* pDesc, REFIID riid, void** ppv) = 0;

 protected:
  ~IDirectMusicLoader8() = default;
};
