// Conversions between the system's 8-bit text and wide text, with the Windows names.
// The system code page (CP_ACP) is UTF-8; wide text is UTF-16.
#pragma once

#include "platform/core/wintypes.h"

using UINT = std::uint32_t;

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;
// Composite-character handling has no meaning for UTF-8; the flag is accepted.
constexpr DWORD WC_COMPOSITECHECK = 0x200;

// Converts wideLength units of wide (-1: up to and including its NUL) into out.
// Returns the bytes written (with the NUL when wideLength is -1), or with outSize 0
// the bytes needed; 0 on failure, when out is too small or an argument is invalid.
// An unpaired surrogate becomes U+FFFD. defaultChar and usedDefault are ignored.
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int wideLength, char* out, int outSize,
                        const char* defaultChar, BOOL* usedDefault);
// Converts textLength bytes of text (-1: up to and including its NUL) into out.
// Returns the units written, or with outSize 0 the units needed; 0 on failure.
// Bytes that are not UTF-8 become U+FFFD each.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* text, int textLength, WCHAR* out, int outSize);
