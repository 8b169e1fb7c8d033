#include "platform/registry/registry_text.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace platform::registry_detail {
namespace {

constexpr DWORD kText = 1;        // REG_SZ
constexpr DWORD kExpandText = 2;  // REG_EXPAND_SZ
constexpr DWORD kBinary = 3;      // REG_BINARY
constexpr DWORD kDword = 4;       // REG_DWORD

constexpr const char* kHeading = "; Halvane registry: one [section] per key, one line per value.";

void AppendQuoted(std::string& out, std::string_view text) {
  out.push_back('"');
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    switch (c) {
      case '\\':
        out.append("\\\\");
        break;
      case '"':
        out.append("\\\"");
        break;
      case '\n':
        out.append("\\n");
        break;
      case '\r':
        out.append("\\r");
        break;
      case '\t':
        out.append("\\t");
        break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          char escaped[5];
          std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
          out.append(escaped);
        } else {
          out.push_back(c);
        }
    }
  }
  out.push_back('"');
}

void AppendHex(std::string& out, std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    char pair[4];
    std::snprintf(pair, sizeof pair, i == 0 ? "%02x" : ",%02x", static_cast<unsigned char>(bytes[i]));
    out.append(pair);
  }
}

// The text up to the first NUL, when the rest is NUL filler.
std::optional<std::string_view> TextOf(std::string_view data) {
  const std::size_t end = data.find('\0');
  if (end == std::string_view::npos) return std::nullopt;
  if (data.find_first_not_of('\0', end) != std::string_view::npos) return std::nullopt;
  return data.substr(0, end);
}

void AppendValue(std::string& out, const Value& value) {
  if (value.name.empty()) {
    out.push_back('@');
  } else {
    AppendQuoted(out, value.name);
  }
  out.push_back('=');
  const std::string_view data = value.data;
  if (value.type == kDword && data.size() == 4) {
    const auto byte = [&](int i) { return static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])); };
    char number[16];
    std::snprintf(number, sizeof number, "dword:%08x",
                  static_cast<unsigned>(byte(0) | byte(1) << 8 | byte(2) << 16 | byte(3) << 24));
    out.append(number);
  } else if (const auto text = TextOf(data); value.type == kText && text) {
    if (data.size() == text->size() + 1) {
      out.append("sz:");
    } else {
      out.append("sz(" + std::to_string(data.size()) + "):");
    }
    AppendQuoted(out, *text);
  } else if (value.type == kBinary) {
    out.append("hex:");
    AppendHex(out, data);
  } else {
    out.append("hex(" + std::to_string(value.type) + "):");
    AppendHex(out, data);
  }
  out.push_back('\n');
}

// Reads a quoted text at the start of rest and moves past it.
std::optional<std::string> ReadQuoted(std::string_view& rest) {
  if (rest.empty() || rest.front() != '"') return std::nullopt;
  std::string text;
  std::size_t i = 1;
  while (i < rest.size() && rest[i] != '"') {
    char c = rest[i++];
    if (c == '\\') {
      if (i >= rest.size()) return std::nullopt;
      const char escape = rest[i++];
      switch (escape) {
        case 'n':
          c = '\n';
          break;
        case 'r':
          c = '\r';
          break;
        case 't':
          c = '\t';
          break;
        case 'x': {
          unsigned value = 0;
          if (i + 2 > rest.size()) return std::nullopt;
          const auto [end, error] = std::from_chars(rest.data() + i, rest.data() + i + 2, value, 16);
          if (error != std::errc() || end != rest.data() + i + 2) return std::nullopt;
          i += 2;
          c = static_cast<char>(value);
          break;
        }
        default:
          c = escape;
      }
    }
    text.push_back(c);
  }
  if (i >= rest.size()) return std::nullopt;
  rest.remove_prefix(i + 1);
  return text;
}

std::optional<std::uint64_t> ReadNumber(std::string_view text, int base) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

std::optional<std::string> ReadHex(std::string_view text) {
  std::string bytes;
  while (!text.empty()) {
    const std::size_t comma = std::min(text.find(','), text.size());
    const auto byte = ReadNumber(text.substr(0, comma), 16);
    if (!byte || *byte > 0xff) return std::nullopt;
    bytes.push_back(static_cast<char>(*byte));
    text.remove_prefix(std::min(comma + 1, text.size()));
  }
  return bytes;
}

// Reads the part after '=' of a value line. A text value's declared size is taken
// from budget, which it must fit, and must leave room for the text and its NUL.
bool ReadData(std::string_view rest, Value& value, std::size_t& budget) {
  if (rest.starts_with("dword:")) {
    const auto number = ReadNumber(rest.substr(6), 16);
    if (!number || *number > 0xffffffffu) return false;
    value.type = kDword;
    value.data.clear();
    for (int i = 0; i < 4; ++i) value.data.push_back(static_cast<char>((*number >> (8 * i)) & 0xff));
    return true;
  }
  if (rest.starts_with("sz")) {
    rest.remove_prefix(2);
    std::optional<std::uint64_t> size;
    if (rest.starts_with("(")) {
      const std::size_t close = rest.find(')');
      if (close == std::string_view::npos) return false;
      size = ReadNumber(rest.substr(1, close - 1), 10);
      if (!size || *size > 0xffffffffu) return false;
      rest.remove_prefix(close + 1);
    }
    if (!rest.starts_with(":")) return false;
    rest.remove_prefix(1);
    const auto text = ReadQuoted(rest);
    if (!text || text->find('\0') != std::string::npos) return false;
    if (size && (*size > budget || *size < text->size() + 1)) return false;
    if (size) budget -= static_cast<std::size_t>(*size);
    value.type = kText;
    value.data = *text;
    value.data.resize(std::max<std::size_t>(size.value_or(0), text->size() + 1), '\0');
    return true;
  }
  if (rest.starts_with("hex:")) {
    const auto bytes = ReadHex(rest.substr(4));
    if (!bytes) return false;
    value.type = kBinary;
    value.data = *bytes;
    return true;
  }
  if (rest.starts_with("hex(")) {
    const std::size_t close = rest.find("):");
    if (close == std::string_view::npos) return false;
    const auto type = ReadNumber(rest.substr(4, close - 4), 10);
    const auto bytes = ReadHex(rest.substr(close + 2));
    if (!type || *type > 0xffffffffu || !bytes) return false;
    value.type = static_cast<DWORD>(*type);
    value.data = *bytes;
    return true;
  }
  return false;
}

std::string Lowered(std::string_view text) {
  std::string lowered(text);
  for (char& c : lowered) c = LowerAscii(c);
  return lowered;
}

bool IsBlank(std::string_view text) { return text.empty() || text == "\r"; }

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

Value* Key::FindValue(std::string_view name) {
  for (Line& line : lines)
    if (line.value && SameName(line.value->name, name)) return &*line.value;
  return nullptr;
}

void Key::SetValue(Value value) {
  for (Line& line : lines) {
    if (line.value && SameName(line.value->name, value.name)) {
      line.value->type = value.type;
      line.value->data = std::move(value.data);
      line.verbatim = false;
      return;
    }
  }
  // After the last value; in a section without values, before its closing blank lines.
  std::size_t at = lines.size();
  const auto lastValue = std::find_if(lines.rbegin(), lines.rend(), [](const Line& line) { return line.value; });
  if (lastValue != lines.rend()) {
    at = static_cast<std::size_t>(lines.rend() - lastValue);
  } else {
    while (at > 0 && IsBlank(lines[at - 1].text)) --at;
  }
  lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{"", std::move(value), false});
}

bool Key::EraseValue(std::string_view name) {
  const auto found = std::find_if(lines.begin(), lines.end(),
                                  [&](const Line& line) { return line.value && SameName(line.value->name, name); });
  if (found == lines.end()) return false;
  lines.erase(found);
  return true;
}

bool Key::ClearValues() {
  return std::erase_if(lines, [](const Line& line) { return line.value.has_value(); }) != 0;
}

Store ParseStore(std::string_view text) {
  Store store;
  if (text.empty()) {
    store.preamble.emplace_back(kHeading);
    return store;
  }
  // Keys by their lower-cased path, and each key's values by lower-cased name (the
  // index of the line that counts), so that reading stays linear.
  std::unordered_map<std::string, std::size_t> keyIndex;
  std::vector<std::unordered_map<std::string, std::size_t>> valueIndex;
  std::size_t budget = kMaxStoreSize;
  std::optional<std::size_t> current;
  std::string_view rest = text;
  while (!rest.empty()) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    const std::string_view raw = rest.substr(0, end);
    rest.remove_prefix(std::min(end + 1, rest.size()));
    std::string_view line = raw;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    // A line kept as it stands, in its place.
    const auto keep = [&] {
      if (current)
        store.keys[*current].lines.push_back(Line{std::string(raw), std::nullopt, true});
      else
        store.preamble.emplace_back(raw);
    };

    if (line.empty() || line.front() == ';' || line.front() == '#') {
      keep();
      continue;
    }
    if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
      const std::string_view path = line.substr(1, line.size() - 2);
      const auto [found, added] = keyIndex.try_emplace(Lowered(path), store.keys.size());
      if (added) {
        store.keys.push_back(Key{std::string(path), "", std::string(raw), {}});
        valueIndex.emplace_back();
        current = found->second;
      } else {
        // The same key again: what follows joins it, under this line.
        current = found->second;
        keep();
      }
      continue;
    }
    if (!current) {
      keep();
      continue;
    }
    Key& key = store.keys[*current];
    if (line.starts_with("!class=")) {
      std::string_view quoted = line.substr(7);
      if (auto className = ReadQuoted(quoted)) key.className = std::move(*className);
      keep();
      continue;
    }
    Value value{"", 0, ""};
    std::string_view after = line;
    if (after.front() == '@') {
      after.remove_prefix(1);
    } else {
      auto name = ReadQuoted(after);
      if (!name) {
        keep();
        continue;
      }
      value.name = std::move(*name);
    }
    if (!after.starts_with("=") || !ReadData(after.substr(1), value, budget)) {
      keep();
      continue;
    }
    const std::size_t at = key.lines.size();
    const auto [earlier, first] = valueIndex[*current].try_emplace(Lowered(value.name), at);
    if (!first) {
      key.lines[earlier->second].value.reset();  // the later line counts
      earlier->second = at;
    }
    key.lines.push_back(Line{std::string(raw), std::move(value), true});
  }

  // Parents that a hand-edited file left out still exist.
  for (std::size_t i = 0; i < store.keys.size(); ++i) {
    const std::string& path = store.keys[i].path;
    const std::size_t at = path.rfind('\\');
    if (at == std::string::npos) continue;
    std::string parent = path.substr(0, at);
    if (keyIndex.try_emplace(Lowered(parent), store.keys.size()).second)
      store.keys.push_back(Key{std::move(parent), "", "", {}});
  }
  return store;
}

std::string FormatStore(const Store& store) {
  std::string out;
  for (const std::string& line : store.preamble) {
    out.append(line);
    out.push_back('\n');
  }
  for (const Key& key : store.keys) {
    if (key.header.empty()) {
      out.append("\n[" + key.path + "]\n");
      if (!key.className.empty()) {
        out.append("!class=");
        AppendQuoted(out, key.className);
        out.push_back('\n');
      }
    } else {
      out.append(key.header);
      out.push_back('\n');
    }
    for (const Line& line : key.lines) {
      if (line.verbatim || !line.value) {
        out.append(line.text);
        out.push_back('\n');
      } else {
        AppendValue(out, *line.value);
      }
    }
  }
  return out;
}

}  // namespace platform::registry_detail
