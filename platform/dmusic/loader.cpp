#include "platform/dmusic/loader.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/core/code_page.h"
#include "platform/dmusic/segment.h"
#include "platform/midi_file/smf_reader.h"

namespace platform {
namespace {

// The file name of a description as UTF-8; false when it has no terminator.
bool FileNameOf(const DMUS_OBJECTDESC& desc, std::string& path) {
  const WCHAR* name = desc.wszFileName;
  std::size_t length = 0;
  while (length < DMUS_MAX_FILENAME && name[length] != 0) ++length;
  if (length == DMUS_MAX_FILENAME) return false;
  path.clear();
  if (length == 0) return true;
  const int wideLength = static_cast<int>(length);
  const int needed = WideCharToMultiByte(CP_UTF8, 0, name, wideLength, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return false;
  path.resize(static_cast<std::size_t>(needed));
  return WideCharToMultiByte(CP_UTF8, 0, name, wideLength, path.data(), needed, nullptr, nullptr) == needed;
}

std::string TooLong(std::uintmax_t size) {
  return "the file is " + std::to_string(size) + " bytes long, more than the " +
         std::to_string(CLoader::kMaxFileBytes) + " a MIDI file may have";
}

HRESULT ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& reason) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::status(path, error);
  if (status.type() == std::filesystem::file_type::not_found) {
    reason = "there is no such file";
    return DMUS_E_LOADER_FAILEDOPEN;
  }
  if (error) {
    reason = "the file cannot be reached (" + error.message() + ")";
    return DMUS_E_LOADER_FAILEDOPEN;
  }
  if (std::filesystem::is_directory(status)) {
    reason = "the name is a folder, not a file";
    return DMUS_E_LOADER_FAILEDOPEN;
  }
  if (!std::filesystem::is_regular_file(status)) {
    reason = "the name is not an ordinary file";
    return DMUS_E_LOADER_FAILEDOPEN;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) {
    reason = "the file's size cannot be read (" + error.message() + ")";
    return DMUS_E_LOADER_FAILEDOPEN;
  }
  if (size > CLoader::kMaxFileBytes) {
    reason = TooLong(size);
    return DMUS_E_INVALIDFILE;
  }
  errno = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    reason = errno != 0 ? "the file cannot be opened (" + std::string(std::strerror(errno)) + ")"
                        : "the file cannot be opened";
    return DMUS_E_LOADER_FAILEDOPEN;
  }
  bytes.resize(static_cast<std::size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size))) {
    reason = "the file cannot be read to its end";
    return DMUS_E_LOADER_FAILEDOPEN;
  }
  return S_OK;
}

}  // namespace

HRESULT CLoader::GetObject(DMUS_OBJECTDESC* pDesc, REFIID riid, void** ppv) {
  std::string reason;
  const HRESULT hr = Load(pDesc, riid, ppv, reason);
  if (FAILED(hr) && reason.empty()) reason = "the loader cannot make a segment of it";
  std::lock_guard guard(lock_);
  lastFailure_ = FAILED(hr) ? std::move(reason) : std::string();
  return hr;
}

HRESULT CLoader::Load(DMUS_OBJECTDESC* pDesc, REFIID riid, void** ppv, std::string& reason) {
  if (ppv == nullptr || pDesc == nullptr) return E_POINTER;
  *ppv = nullptr;
  if ((pDesc->dwValidData & DMUS_OBJ_CLASS) != 0 && !(pDesc->guidClass == CLSID_DirectMusicSegment)) {
    reason = "the loader makes segments only";
    return E_INVALIDARG;
  }

  std::vector<std::uint8_t> bytes;
  if ((pDesc->dwValidData & DMUS_OBJ_MEMORY) != 0 && pDesc->pbMemData != nullptr) {
    if (pDesc->llMemLength < 0 || static_cast<std::uintmax_t>(pDesc->llMemLength) > kMaxFileBytes) {
      reason = pDesc->llMemLength < 0 ? "the data has a negative length"
                                      : TooLong(static_cast<std::uintmax_t>(pDesc->llMemLength));
      return DMUS_E_INVALIDFILE;
    }
    bytes.assign(pDesc->pbMemData, pDesc->pbMemData + pDesc->llMemLength);
  } else {
    std::string path;
    const bool named = (pDesc->dwValidData & DMUS_OBJ_FILENAME) != 0;
    if (named && !FileNameOf(*pDesc, path)) {
      reason = "the file name is not valid text with an end";
      return E_INVALIDARG;
    }
    if (path.empty()) {
      reason = "no file name was given";
      return DMUS_E_LOADER_NOFILENAME;
    }
    const HRESULT hr = ReadWholeFile(path, bytes, reason);
    if (FAILED(hr)) return hr;
  }

  smf::Sequence sequence;
  const HRESULT hr = smf::ReadStandardMidiFile(bytes, sequence, reason);
  if (FAILED(hr)) return hr;
  auto* segment = new CSegment(std::move(sequence));
  const HRESULT qi = segment->QueryInterface(riid, ppv);
  segment->Release();
  if (FAILED(qi)) reason = "the segment does not offer the interface asked for";
  return qi;
}

std::string CLoader::LastFailure() const {
  std::lock_guard guard(lock_);
  return lastFailure_;
}

std::string LoaderFailureReason(IDirectMusicLoader8* loader) {
  const auto* ours = dynamic_cast<const CLoader*>(loader);
  return ours != nullptr ? ours->LastFailure() : std::string();
}

}  // namespace platform
