// What halvane-convert and its worker processes say to each other over pipes: the
// files to convert one by one, and each one's result. Every field is ended by a
// NUL byte, so paths and reasons may hold any other byte.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/convert_cli/file_result.h"

namespace convert_cli {

// A file to convert and the folder its output goes to.
struct WorkOrder {
  std::string input;
  std::string folder;
};

std::string EncodeOrder(const WorkOrder& order);
std::string EncodeResult(const FileResult& result);

// Takes whole NUL-ended fields off the front of bytes read so far.
class FieldReader {
 public:
  void Add(const char* data, std::size_t size) { buffer_.append(data, size); }
  // The next order or result when all its fields have come; nullopt until then.
  // A result that does not parse is given as a failure saying so.
  std::optional<WorkOrder> NextOrder();
  std::optional<FileResult> NextResult();

 private:
  std::optional<std::vector<std::string>> Take(std::size_t count, std::size_t countAt);

  std::string buffer_;
};

}  // namespace convert_cli
