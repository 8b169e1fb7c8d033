// The registry file's text: one section per key, one line per value.
//
//   [HKEY_CURRENT_USER\Software\Orvande\Halvane]
//   !class="REG_SZ"
//   "[Same Directory]"=dword:00000001
//   "[Output]"=sz:"/home/user/wav"
//   "Padded"=sz(1024):"text"        text stored with a size larger than text + NUL
//   "Blob"=hex:01,02,ff
//   @=hex(7):61,00,00               the unnamed value, of a type kept as raw bytes
//
// Quoted text escapes '\' '"' and control characters (\n \r \t \xHH); other bytes are
// written as they are. Lines starting with ';' or '#' and lines that cannot be read
// are kept as they are, in their place, and written back unchanged, so a hand-edited
// file never stops the program and loses nothing when the program saves. Of a value
// named twice in a section the last line counts; the earlier lines are kept as text.
//
// Reading is linear in the text's length, and what the text declares is bounded by
// kMaxStoreSize: a text value's declared size above what is left of that budget, or
// below its own text and NUL, is a line that cannot be read.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/wintypes.h"

namespace platform::registry_detail {

// The most a registry file may hold, and the most all its text values' declared
// sizes may add up to.
constexpr std::size_t kMaxStoreSize = 4 * 1024 * 1024;

struct Value {
  std::string name;
  DWORD type;
  std::string data;  // the bytes a read returns (text values: text, NUL, filler)
};

// One line of a key's section, in the file's order.
struct Line {
  std::string text;            // the line as read, without its line feed
  std::optional<Value> value;  // the value the line holds, if it holds one
  bool verbatim = true;        // false: the value changed since, and its line is written afresh
};

struct Key {
  std::string path;  // the root's name, then the parts separated by '\'
  std::string className;
  std::string header;  // the section line as read; empty for a key made since
  std::vector<Line> lines;

  Value* FindValue(std::string_view name);
  // Replaces the value of that name in its place, or adds it after the section's
  // last value.
  void SetValue(Value value);
  // False when there is no value of that name.
  bool EraseValue(std::string_view name);
  // Removes every value (the other lines stay); false when there was none.
  bool ClearValues();
};

struct Store {
  std::vector<std::string> preamble;  // the lines before the first section
  std::vector<Key> keys;              // in the order they were made
};

Store ParseStore(std::string_view text);
std::string FormatStore(const Store& store);

constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool SameName(std::string_view a, std::string_view b);

}  // namespace platform::registry_detail
