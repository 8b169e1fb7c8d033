#include "format.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace platform {
namespace {

// Appends to a fixed window, silently dropping what would pass the limit.
struct Sink {
  char* out;
  std::size_t length = 0;

  void Put(char c) {
    if (length < kFormatLimit) out[length++] = c;
  }
  void Repeat(char c, int count) {
    for (int i = 0; i < count; ++i) Put(c);
  }
};

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

// A C1 control character in UTF-8: C2 80 to C2 9F.
bool IsUtf8C1(const char* text, std::size_t i, std::size_t length) {
  return i + 1 < length && static_cast<unsigned char>(text[i]) == 0xC2 &&
         static_cast<unsigned char>(text[i + 1]) >= 0x80 && static_cast<unsigned char>(text[i + 1]) <= 0x9F;
}

void PutEscapedByte(std::string& out, unsigned char c) {
  static const char kHex[] = "0123456789abcdef";
  switch (c) {
    case '\r':
      out.append("\\r");
      break;
    case '\n':
      out.append("\\n");
      break;
    case '\t':
      out.append("\\t");
      break;
    default:
      out.append("\\x");
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
  }
}

// The text with its control characters escaped, stopping once limit bytes are out.
std::string EscapeControlsUpTo(const char* text, std::size_t length, std::size_t limit) {
  std::string out;
  for (std::size_t i = 0; i < length && out.size() < limit; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (IsControl(c)) {
      PutEscapedByte(out, c);
    } else if (IsUtf8C1(text, i, length)) {
      PutEscapedByte(out, c);
      PutEscapedByte(out, static_cast<unsigned char>(text[++i]));
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

void PutField(Sink& sink, const char* text, std::size_t textLength, int width, bool leftAlign, char pad) {
  const int padding = width > static_cast<int>(textLength) ? width - static_cast<int>(textLength) : 0;
  if (!leftAlign) {
    // Zero padding goes after a sign, space padding before it.
    if (pad == '0' && textLength > 0 && text[0] == '-') {
      sink.Put('-');
      ++text;
      --textLength;
    }
    sink.Repeat(pad, padding);
  }
  for (std::size_t i = 0; i < textLength; ++i) sink.Put(text[i]);
  if (leftAlign) sink.Repeat(' ', padding);
}

std::size_t Unsigned(char* digits, std::uint32_t value, unsigned base, bool upper) {
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  char reversed[16];
  std::size_t n = 0;
  do {
    reversed[n++] = set[value % base];
    value /= base;
  } while (value != 0);
  for (std::size_t i = 0; i < n; ++i) digits[i] = reversed[n - 1 - i];
  return n;
}

// Writes an argument's text as a field, escaped when asked to.
void PutText(Sink& sink, const char* text, std::size_t textLength, int width, bool leftAlign, ArgumentText arguments) {
  if (arguments == ArgumentText::kAsGiven) {
    PutField(sink, text, textLength, width, leftAlign, ' ');
    return;
  }
  const std::string escaped = EscapeControlsUpTo(text, textLength, kFormatLimit);
  PutField(sink, escaped.data(), escaped.size(), width, leftAlign, ' ');
}

}  // namespace

std::string EscapeControls(std::string_view text) {
  return EscapeControlsUpTo(text.data(), text.size(), std::string::npos);
}

std::size_t FormatTextV(char* out, const char* format, std::va_list args, ArgumentText arguments) {
  Sink sink{out};
  for (const char* p = format; *p != '\0'; ++p) {
    if (*p != '%') {
      sink.Put(*p);
      continue;
    }
    const char* start = p++;
    bool leftAlign = false;
    char pad = ' ';
    for (; *p == '-' || *p == '0' || *p == '#'; ++p) {
      if (*p == '-') leftAlign = true;
      if (*p == '0') pad = '0';
    }
    int width = 0;
    for (; *p >= '0' && *p <= '9'; ++p) width = width * 10 + (*p - '0');
    int precision = -1;
    if (*p == '.') {
      precision = 0;
      for (++p; *p >= '0' && *p <= '9'; ++p) precision = precision * 10 + (*p - '0');
    }
    while (*p == 'l' || *p == 'h') ++p;
    if (leftAlign) pad = ' ';

    char digits[24];
    switch (*p) {
      case '%':
        sink.Put('%');
        break;
      case 'c': {
        char c = static_cast<char>(va_arg(args, int));
        PutText(sink, &c, 1, width, leftAlign, arguments);
        break;
      }
      case 's': {
        const char* text = va_arg(args, const char*);
        if (text == nullptr) text = "(null)";
        std::size_t n = std::strlen(text);
        if (precision >= 0 && static_cast<std::size_t>(precision) < n) n = static_cast<std::size_t>(precision);
        PutText(sink, text, n, width, leftAlign, arguments);
        break;
      }
      case 'd':
      case 'i': {
        const int value = va_arg(args, int);
        std::size_t n = 0;
        std::uint32_t magnitude = static_cast<std::uint32_t>(value);
        if (value < 0) {
          digits[n++] = '-';
          magnitude = 0u - magnitude;
        }
        n += Unsigned(digits + n, magnitude, 10, false);
        PutField(sink, digits, n, width, leftAlign, pad);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        const std::uint32_t value = va_arg(args, unsigned int);
        const std::size_t n = Unsigned(digits, value, *p == 'u' ? 10 : 16, *p == 'X');
        PutField(sink, digits, n, width, leftAlign, pad);
        break;
      }
      case '\0':
        // A lone '%' at the end is written as it stands.
        --p;
        for (const char* q = start; q <= p; ++q) sink.Put(*q);
        break;
      default:
        // Unknown directives are copied through unchanged.
        for (const char* q = start; q <= p; ++q) sink.Put(*q);
        break;
    }
  }
  out[sink.length] = '\0';
  return sink.length;
}

std::size_t FormatTextTo(char* out, const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  const std::size_t n = FormatTextV(out, format, args);
  va_end(args);
  return n;
}

std::string FormatTextV(const char* format, std::va_list args) {
  char buffer[kFormatLimit + 1];
  const std::size_t n = FormatTextV(buffer, format, args);
  return std::string(buffer, n);
}

std::string FormatText(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::string text = FormatTextV(format, args);
  va_end(args);
  return text;
}

}  // namespace platform
