// Fixed English descriptions of result codes (COM, Win32 and the DirectX 8
// family), used when a failed call is logged.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/core/wintypes.h"

struct ResultDescription {
  std::uint32_t code;
  const char* text;
};

// The text of the row whose code equals hr exactly, or "n/a". Never null; the
// text is constant and lives for the whole run.
const char* GetResultDescription(HRESULT hr);

// For a person: the description, or "error 0x%08x" with the code when the table
// has none.
std::string DescribeResult(HRESULT hr);

// Every row, sorted by code.
std::span<const ResultDescription> ResultDescriptionTable();
