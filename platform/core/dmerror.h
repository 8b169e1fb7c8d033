// The music engine's result codes, as DirectMusic numbers them: the engine's
// objects report them, and so does the synthesiser beneath them.
#pragma once

#include "platform/core/wintypes.h"

constexpr HRESULT DMUS_S_REQUEUE = MakeResult(0x08781200);
constexpr HRESULT DMUS_S_FREE = MakeResult(0x08781201);
constexpr HRESULT DMUS_S_LAST_TOOL = MakeResult(0x08781211);
constexpr HRESULT DMUS_E_SYNTHNOTCONFIGURED = MakeResult(0x88781131);
constexpr HRESULT DMUS_E_NOT_INIT = MakeResult(0x88781162);
constexpr HRESULT DMUS_E_NOT_FOUND = MakeResult(0x88781161);
constexpr HRESULT DMUS_E_NO_MASTER_CLOCK = MakeResult(0x88781170);
constexpr HRESULT DMUS_E_LOADER_FAILEDOPEN = MakeResult(0x88781182);
constexpr HRESULT DMUS_E_LOADER_NOFILENAME = MakeResult(0x88781186);
constexpr HRESULT DMUS_E_INVALIDFILE = MakeResult(0x88781200);
constexpr HRESULT DMUS_E_ALREADY_EXISTS = MakeResult(0x88781201);
constexpr HRESULT DMUS_E_CANNOT_FREE = MakeResult(0x88781205);
constexpr HRESULT DMUS_E_CANNOT_OPEN_PORT = MakeResult(0x88781206);
constexpr HRESULT DMUS_E_AUDIOPATH_INACTIVE = MakeResult(0x88781229);
constexpr HRESULT DMUS_E_AUDIOPATH_NOBUFFER = MakeResult(0x8878122A);
constexpr HRESULT DMUS_E_AUDIOPATH_NOPORT = MakeResult(0x8878122B);
constexpr HRESULT DMUS_E_NO_AUDIOPATH = MakeResult(0x8878122C);
constexpr HRESULT DMUS_E_INVALID_RIFF_CHUNK = MakeResult(0x8878122D);
constexpr HRESULT DMUS_E_INVALID_CONTAINER_OBJECT = MakeResult(0x8878122F);
