#include "app/convert_cli/manifest.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>

namespace convert_cli {

namespace {

// The length of the UTF-8 sequence at text[at], or 0 when it is not one.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  unsigned min = 0;
  unsigned code = 0;
  if (lead < 0x80) return 1;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, code = lead & 0x1F, min = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, code = lead & 0x0F, min = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, code = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(at + i) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

std::string Number(double value, const char* format) {
  if (!std::isfinite(value)) return "null";
  char text[48];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

const char* StatusName(FileStatus status) {
  switch (status) {
    case FileStatus::kConverted:
    case FileStatus::kConvertedWithWarning:
      return "ok";
    case FileStatus::kSkipped:
      return "skipped";
    case FileStatus::kFailed:
      break;
  }
  return "failed";
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (std::size_t at = 0; at < text.size();) {
    const unsigned char c = static_cast<unsigned char>(text[at]);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += static_cast<char>(c);
    } else if (c == '\n') {
      json += "\\n";
    } else if (c == '\t') {
      json += "\\t";
    } else if (c < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      json += escaped;
    } else {
      const std::size_t length = Utf8Length(text, at);
      if (length == 0) {
        json += "\\ufffd";
        ++at;
        continue;
      }
      json.append(text, at, length);
      at += length;
      continue;
    }
    ++at;
  }
  return json + "\"";
}

std::string ManifestLine(const FileResult& result) {
  std::string reason;
  for (const std::string& part : result.reasons) reason += (reason.empty() ? "" : "; ") + part;
  std::string line = "{\"input\":" + JsonString(result.input);
  line += ",\"output\":" + (result.output.empty() ? std::string("null") : JsonString(result.output));
  line += ",\"status\":\"" + std::string(StatusName(result.status)) + "\"";
  line += ",\"reason\":" + (reason.empty() ? std::string("null") : JsonString(reason));
  line += ",\"music_seconds\":" + Number(result.musicSeconds, "%.3f");
  line += ",\"render_seconds\":" + Number(result.renderSeconds, "%.3f");
  line += ",\"peak_dbfs\":" + Number(result.peakDbfs, "%.2f");
  line += ",\"clipped_samples\":" + std::to_string(result.clippedSamples);
  if (result.loudnessApplied) {
    line += ",\"loudness_lufs\":" + Number(result.loudnessLufs, "%.2f");
    line += ",\"gain_db\":" + Number(result.gainDb, "%.2f");
    line += ",\"output_lufs\":" + Number(result.outputLufs, "%.2f");
    line += ",\"true_peak_dbtp\":" + Number(result.truePeakDbtp, "%.2f");
  }
  line += "}\n";
  return line;
}

Manifest::~Manifest() {
  if (fd_ >= 0) ::close(fd_);
}

std::string Manifest::Open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
  if (fd_ < 0) return std::strerror(errno);
  // Only a regular file is a record: a FIFO or a device could block or swallow it.
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    return "not a regular file";
  }
  return {};
}

bool Manifest::Add(const FileResult& result) {
  if (fd_ < 0) return false;
  const std::string line = ManifestLine(result);
  // O_APPEND: one write puts the line after every other, whole.
  std::size_t done = 0;
  while (done < line.size()) {
    const ssize_t wrote = ::write(fd_, line.data() + done, line.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote == 0) errno = EIO;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace convert_cli
