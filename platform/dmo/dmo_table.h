// The table of registered media objects kept in the registry:
//
//   HKEY_CLASSES_ROOT\DirectShow\MediaObjects\{clsid}            default value: the name
//       "InputTypes", "OutputTypes"  binary: the partial media types, 32 bytes each
//       "Keyed"                      dword 1 for an object that needs a key to be used
//   HKEY_CLASSES_ROOT\DirectShow\MediaObjects\Categories\{category}\{clsid}
//
// A category lists its objects in the order they were first registered in it.
#pragma once

#include <string>
#include <vector>

#include "platform/dmo/dmo.h"

namespace platform::dmo_detail {

struct DmoEntry {
  CLSID clsid;
  std::u16string name;
};

// The objects of a category that pass the enumeration's filters: keyed objects only
// with DMO_ENUMF_INCLUDE_KEYED; with input (output) types given, only objects that
// take (give) at least one of them, GUID_NULL matching any type or subtype.
HRESULT ListCategory(REFGUID category, DWORD flags, DWORD inCount, const DMO_PARTIAL_MEDIATYPE* inTypes, DWORD outCount,
                     const DMO_PARTIAL_MEDIATYPE* outTypes, std::vector<DmoEntry>& entries);

}  // namespace platform::dmo_detail
