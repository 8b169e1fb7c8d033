// Basic Windows-style types and result codes that the program's interfaces use.
#pragma once

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using BOOL = std::int32_t;
using HRESULT = std::int32_t;
using LONGLONG = std::int64_t;
using REFERENCE_TIME = std::int64_t;  // 100 ns units
using MUSIC_TIME = std::int32_t;      // 768 ticks a quarter note
using WCHAR = char16_t;               // wide text at the engine and DMO boundaries
using HWND = void*;
using HANDLE = void*;
using HINSTANCE = void*;
// GDI handles (see ui/gdi.h).
using HGDIOBJ = void*;
using HBITMAP = void*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr HRESULT MakeResult(std::uint32_t bits) { return static_cast<HRESULT>(bits); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeResult(0x80004001);
constexpr HRESULT E_NOINTERFACE = MakeResult(0x80004002);
constexpr HRESULT E_POINTER = MakeResult(0x80004003);
constexpr HRESULT E_ABORT = MakeResult(0x80004004);
constexpr HRESULT E_FAIL = MakeResult(0x80004005);
constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFF);
constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000E);
constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057);
constexpr HRESULT E_ACCESSDENIED = MakeResult(0x80070005);
constexpr HRESULT CLASS_E_NOAGGREGATION = MakeResult(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MakeResult(0x80040111);
constexpr HRESULT REGDB_E_CLASSNOTREG = MakeResult(0x80040154);
constexpr HRESULT CO_E_NOTINITIALIZED = MakeResult(0x800401F0);
constexpr HRESULT CO_E_DLLNOTFOUND = MakeResult(0x800401F8);
// Win32 errors wrapped as result codes.
constexpr HRESULT HRESULT_FILE_NOT_FOUND = MakeResult(0x80070002);
constexpr HRESULT HRESULT_PATH_NOT_FOUND = MakeResult(0x80070003);
constexpr HRESULT HRESULT_DISK_FULL = MakeResult(0x80070070);

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
