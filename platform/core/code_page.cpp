#include "platform/core/code_page.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool KnownCodePage(UINT codePage) { return codePage == CP_ACP || codePage == CP_UTF8; }

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes the code point at text[i] and moves i past it; a malformed sequence gives
// U+FFFD and consumes one byte.
char32_t DecodeUtf8(std::string_view text, std::size_t& i) {
  const auto at = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = at(i);
  std::size_t extra = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if (lead < 0x80) {
    ++i;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1, cp = lead & 0x1F, minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2, cp = lead & 0x0F, minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3, cp = lead & 0x07, minimum = 0x10000;
  } else {
    ++i;
    return kReplacement;
  }
  if (i + extra >= text.size()) {
    ++i;
    return kReplacement;
  }
  for (std::size_t k = 1; k <= extra; ++k) {
    if ((at(i + k) & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    cp = (cp << 6) | (at(i + k) & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kReplacement;
  }
  i += extra + 1;
  return cp;
}

// Copies the converted units into out as the Windows functions do.
template <typename Char>
int Deliver(const std::basic_string<Char>& converted, Char* out, int outSize) {
  const int needed = static_cast<int>(converted.size());
  if (outSize == 0) return needed;
  if (out == nullptr || outSize < needed) return 0;
  converted.copy(out, converted.size());
  return needed;
}

}  // namespace

int WideCharToMultiByte(UINT codePage, DWORD, const WCHAR* wide, int wideLength, char* out, int outSize, const char*,
                        BOOL*) {
  if (!KnownCodePage(codePage) || wide == nullptr || wideLength == 0 || wideLength < -1 || outSize < 0) return 0;
  std::u16string_view text = wideLength == -1 ? std::u16string_view(wide, std::char_traits<char16_t>::length(wide) + 1)
                                              : std::u16string_view(wide, static_cast<std::size_t>(wideLength));
  std::string converted;
  converted.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const bool high = unit >= 0xD800 && unit <= 0xDBFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      AppendUtf8(converted, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      AppendUtf8(converted, kReplacement);
    } else {
      AppendUtf8(converted, unit);
    }
  }
  return Deliver(converted, out, outSize);
}

int MultiByteToWideChar(UINT codePage, DWORD, const char* text, int textLength, WCHAR* out, int outSize) {
  if (!KnownCodePage(codePage) || text == nullptr || textLength == 0 || textLength < -1 || outSize < 0) return 0;
  std::string_view bytes = textLength == -1 ? std::string_view(text, std::char_traits<char>::length(text) + 1)
                                            : std::string_view(text, static_cast<std::size_t>(textLength));
  std::u16string converted;
  converted.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const char32_t cp = DecodeUtf8(bytes, i);
    if (cp >= 0x10000) {
      converted += static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
      converted += static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      converted += static_cast<char16_t>(cp);
    }
  }
  return Deliver(converted, out, outSize);
}
