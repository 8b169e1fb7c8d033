// The text formatter shared by the log and every "%d"/"%x" text of the program.
// It understands %s %c %d %i %u %x %X %% with the flags '-' and '0', a width, a
// precision for %s and an ignored 'l'/'h' size prefix, like the Windows formatter
// it stands in for, and never produces more than kFormatLimit characters.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

constexpr std::size_t kFormatLimit = 1024;

// How the text of %s and %c arguments is written.
enum class ArgumentText {
  kAsGiven,
  // Control characters (C0, DEL, and C1 in its UTF-8 form) become \r \n \t or \xHH,
  // so text from outside cannot start a line or steer a terminal; the rest, UTF-8
  // included, is written as it is.
  kControlsEscaped,
};

// Formats into out (room for at least kFormatLimit + 1 bytes); returns the length
// written, without the terminating NUL.
std::size_t FormatTextV(char* out, const char* format, std::va_list args,
                        ArgumentText arguments = ArgumentText::kAsGiven);
std::size_t FormatTextTo(char* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

// text with its control characters escaped as kControlsEscaped writes them, whole.
std::string EscapeControls(std::string_view text);

std::string FormatTextV(const char* format, std::va_list args);
std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform
