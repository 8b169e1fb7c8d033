#include "platform/com/com.h"

namespace platform {

// In-process servers are not entered in the registry yet: no class is found there.
HRESULT CreateFromInprocServer(REFCLSID, IUnknown*, REFIID, void** ppv) {
  if (ppv != nullptr) *ppv = nullptr;
  return REGDB_E_CLASSNOTREG;
}

}  // namespace platform
