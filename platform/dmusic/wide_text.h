// Conversions between the program's 8-bit text (UTF-8, the system code page) and
// the wide text of the engine's interfaces (UTF-16).
#pragma once

#include <string>
#include <string_view>

namespace platform {

// Bytes that are not UTF-8 become U+FFFD each.
std::u16string Utf8ToUtf16(std::string_view text);
// An unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);

// The longest prefix of text with at most maxUnits UTF-16 units that does not
// split a surrogate pair.
std::u16string_view CutUtf16(std::u16string_view text, std::size_t maxUnits);
// The longest prefix of text with at most maxBytes bytes that does not split a
// UTF-8 sequence.
std::string_view CutUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace platform
