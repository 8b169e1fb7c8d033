#include "app/convert_cli/worker_link.h"

#include <cstdio>
#include <cstdlib>

namespace convert_cli {

namespace {

// A result: status, input, output, music, render, peak, clipped, loudness applied,
// loudness, gain, output loudness, true peak, reason count, reasons.
constexpr std::size_t kResultFields = 13;

void Put(std::string& out, const std::string& field) {
  out += field;
  out += '\0';
}

std::string Real(double value) {
  char text[48];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

}  // namespace

std::string EncodeOrder(const WorkOrder& order) {
  std::string out;
  Put(out, order.input);
  Put(out, order.folder);
  return out;
}

std::string EncodeResult(const FileResult& result) {
  std::string out;
  Put(out, std::to_string(static_cast<int>(result.status)));
  Put(out, result.input);
  Put(out, result.output);
  Put(out, Real(result.musicSeconds));
  Put(out, Real(result.renderSeconds));
  Put(out, Real(result.peakDbfs));
  Put(out, std::to_string(result.clippedSamples));
  Put(out, result.loudnessApplied ? "1" : "0");
  for (const double value : {result.loudnessLufs, result.gainDb, result.outputLufs, result.truePeakDbtp})
    Put(out, Real(value));
  Put(out, std::to_string(result.reasons.size()));
  for (const std::string& reason : result.reasons) Put(out, reason);
  return out;
}

// count fields, or with countAt < count that many more as the field at countAt says.
std::optional<std::vector<std::string>> FieldReader::Take(std::size_t count, std::size_t countAt) {
  std::vector<std::string> fields;
  std::size_t at = 0;
  for (std::size_t wanted = count; fields.size() < wanted;) {
    const std::size_t end = buffer_.find('\0', at);
    if (end == std::string::npos) return std::nullopt;
    fields.push_back(buffer_.substr(at, end - at));
    at = end + 1;
    if (fields.size() == count && countAt < count) wanted += std::strtoul(fields[countAt].c_str(), nullptr, 10);
  }
  buffer_.erase(0, at);
  return fields;
}

std::optional<WorkOrder> FieldReader::NextOrder() {
  std::optional<std::vector<std::string>> fields = Take(2, 2);
  if (!fields) return std::nullopt;
  return WorkOrder{(*fields)[0], (*fields)[1]};
}

std::optional<FileResult> FieldReader::NextResult() {
  std::optional<std::vector<std::string>> fields = Take(kResultFields, kResultFields - 1);
  if (!fields) return std::nullopt;
  const std::vector<std::string>& f = *fields;
  FileResult result;
  const int status = std::atoi(f[0].c_str());
  result.status = status >= 0 && status <= static_cast<int>(FileStatus::kSkipped) ? static_cast<FileStatus>(status)
                                                                                  : FileStatus::kFailed;
  result.input = f[1];
  result.output = f[2];
  result.musicSeconds = std::strtod(f[3].c_str(), nullptr);
  result.renderSeconds = std::strtod(f[4].c_str(), nullptr);
  result.peakDbfs = std::strtod(f[5].c_str(), nullptr);
  result.clippedSamples = std::strtoull(f[6].c_str(), nullptr, 10);
  result.loudnessApplied = f[7] == "1";
  result.loudnessLufs = std::strtod(f[8].c_str(), nullptr);
  result.gainDb = std::strtod(f[9].c_str(), nullptr);
  result.outputLufs = std::strtod(f[10].c_str(), nullptr);
  result.truePeakDbtp = std::strtod(f[11].c_str(), nullptr);
  result.reasons.assign(f.begin() + kResultFields, f.end());
  return result;
}

}  // namespace convert_cli
