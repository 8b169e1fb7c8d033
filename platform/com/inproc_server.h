// Entering in-process servers in the class table of the registry: the key
// HKEY_CLASSES_ROOT\CLSID\{class}\InprocServer32 with the library's path as its
// default value. CoCreateInstance finds such a class when it is not built in.
#pragma once

#include <string>

#include "platform/com/guid.h"
#include "platform/core/wintypes.h"

// The server library has no DllGetClassObject.
constexpr HRESULT CO_E_ERRORINDLL = MakeResult(0x800401F9);

namespace platform {

// Enters the class with the path of its library (and, when given, its threading
// model). Returns the registry's result (ERROR_SUCCESS is 0).
LONG RegisterInprocServer(REFCLSID clsid, const char* libraryPath, const char* threadingModel);
// Removes the class's key with everything below it; ERROR_FILE_NOT_FOUND when absent.
LONG UnregisterInprocServer(REFCLSID clsid);

// A class's library is loaded only under the rules of platform::LoadServerLibrary
// (platform/com/server_library.h); CoCreateInstance refuses other libraries with
// CO_E_DLLNOTFOUND and leaves the path and the reason (platform/core/error_text.h).

}  // namespace platform
