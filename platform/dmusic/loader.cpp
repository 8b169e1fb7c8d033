#include "platform/dmusic/loader.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/core/code_page.h"
#include "platform/dmusic/segment.h"
#include "platform/dmusic/smf_reader.h"

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

HRESULT ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) return DMUS_E_LOADER_FAILEDOPEN;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return DMUS_E_LOADER_FAILEDOPEN;
  if (size > CLoader::kMaxFileBytes) return DMUS_E_INVALIDFILE;
  std::ifstream in(path, std::ios::binary);
  if (!in) return DMUS_E_LOADER_FAILEDOPEN;
  bytes.resize(static_cast<std::size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)))
    return DMUS_E_LOADER_FAILEDOPEN;
  return S_OK;
}

}  // namespace

HRESULT CLoader::GetObject(DMUS_OBJECTDESC* pDesc, REFIID riid, void** ppv) {
  if (ppv == nullptr || pDesc == nullptr) return E_POINTER;
  *ppv = nullptr;
  if ((pDesc->dwValidData & DMUS_OBJ_CLASS) != 0 && !(pDesc->guidClass == CLSID_DirectMusicSegment))
    return E_INVALIDARG;

  std::vector<std::uint8_t> bytes;
  if ((pDesc->dwValidData & DMUS_OBJ_MEMORY) != 0 && pDesc->pbMemData != nullptr) {
    if (pDesc->llMemLength < 0 || static_cast<std::uintmax_t>(pDesc->llMemLength) > kMaxFileBytes)
      return DMUS_E_INVALIDFILE;
    bytes.assign(pDesc->pbMemData, pDesc->pbMemData + pDesc->llMemLength);
  } else {
    if ((pDesc->dwValidData & DMUS_OBJ_FILENAME) == 0) return DMUS_E_LOADER_NOFILENAME;
    std::string path;
    if (!FileNameOf(*pDesc, path)) return E_INVALIDARG;
    if (path.empty()) return DMUS_E_LOADER_NOFILENAME;
    const HRESULT hr = ReadWholeFile(path, bytes);
    if (FAILED(hr)) return hr;
  }

  smf::Sequence sequence;
  std::string message;
  const HRESULT hr = smf::ReadStandardMidiFile(bytes, sequence, message);
  if (FAILED(hr)) return hr;
  auto* segment = new CSegment(std::move(sequence));
  const HRESULT qi = segment->QueryInterface(riid, ppv);
  segment->Release();
  return qi;
}

}  // namespace platform
