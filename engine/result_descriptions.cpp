#include "engine/result_descriptions.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace {

// Generated at build time from engine/data/result-codes.tsv, sorted by code.
constexpr ResultDescription kRows[] = {
#include "result_codes.inc"
};

constexpr bool StrictlyAscending() {
  for (std::size_t i = 1; i < std::size(kRows); ++i) {
    if (kRows[i - 1].code >= kRows[i].code) return false;
  }
  return true;
}
static_assert(StrictlyAscending(), "result code table must be sorted with unique codes");

}  // namespace

const char* GetResultDescription(HRESULT hr) {
  const auto code = static_cast<std::uint32_t>(hr);
  const auto* row = std::lower_bound(std::begin(kRows), std::end(kRows), code,
                                     [](const ResultDescription& r, std::uint32_t c) { return r.code < c; });
  if (row != std::end(kRows) && row->code == code) return row->text;
  return "n/a";
}

std::string DescribeResult(HRESULT hr) {
  const auto* row = std::lower_bound(std::begin(kRows), std::end(kRows), static_cast<std::uint32_t>(hr),
                                     [](const ResultDescription& r, std::uint32_t c) { return r.code < c; });
  if (row != std::end(kRows) && row->code == static_cast<std::uint32_t>(hr)) return row->text;
  char text[24];
  std::snprintf(text, sizeof text, "error 0x%08x", static_cast<unsigned>(hr));
  return text;
}

std::span<const ResultDescription> ResultDescriptionTable() { return kRows; }
