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
// written as they are. Lines starting with ';' or '#' and lines that cannot be read are
// skipped, so a hand-edited file never stops the program.
#pragma once

#include <string>
#include <vector>

#include "platform/core/wintypes.h"

namespace platform::registry_detail {

struct Value {
  std::string name;
  DWORD type;
  std::string data;  // the bytes a read returns (text values: text, NUL, filler)
};

struct Key {
  std::string path;  // the root's name, then the parts separated by '\'
  std::string className;
  std::vector<Value> values;
};

struct Store {
  std::vector<Key> keys;  // in the order they were made
};

Store ParseStore(const std::string& text);
std::string FormatStore(const Store& store);

constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace platform::registry_detail
