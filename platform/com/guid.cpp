#include "guid.h"

#include <cstdio>

namespace platform {

std::string GuidToString(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::optional<GUID> GuidFromString(std::string_view text) {
  if (text.size() == 38 && text.front() == '{' && text.back() == '}') text = text.substr(1, 36);
  if (text.size() != 36) return std::nullopt;
  std::uint8_t bytes[16];
  int n = 0;
  for (std::size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    int value = 0;
    for (int k = 0; k < 2; ++k, ++i) {
      const char c = text[i];
      int digit;
      if (c >= '0' && c <= '9')
        digit = c - '0';
      else if (c >= 'a' && c <= 'f')
        digit = c - 'a' + 10;
      else if (c >= 'A' && c <= 'F')
        digit = c - 'A' + 10;
      else
        return std::nullopt;
      value = value * 16 + digit;
    }
    bytes[n++] = static_cast<std::uint8_t>(value);
  }
  GUID g{};
  g.Data1 =
      (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
  g.Data2 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  g.Data3 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) g.Data4[i] = bytes[8 + i];
  return g;
}

GUID GuidFromName(std::string_view name) {
  // Two independent 64-bit FNV-1a hashes give the 128 bits; the version and
  // variant bits mark it as a name-based identifier.
  std::uint64_t h1 = 0xcbf29ce484222325ull, h2 = 0x84222325cbf29ce4ull;
  for (unsigned char c : name) {
    h1 = (h1 ^ c) * 0x100000001b3ull;
    h2 = (h2 ^ c) * 0x100000001b3ull;
    h2 ^= h2 >> 29;
  }
  GUID g{};
  g.Data1 = static_cast<std::uint32_t>(h1 >> 32);
  g.Data2 = static_cast<std::uint16_t>(h1 >> 16);
  g.Data3 = static_cast<std::uint16_t>((h1 & 0x0FFF) | 0x5000);
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<std::uint8_t>(h2 >> (56 - 8 * i));
  g.Data4[0] = static_cast<std::uint8_t>((g.Data4[0] & 0x3F) | 0x80);
  return g;
}

}  // namespace platform
