// The calling thread's last error: the Win32 error code (platform/core/winerror.h)
// that a kernel-object or file stand-in left when it failed.
#pragma once

#include "platform/core/wintypes.h"

DWORD GetLastError();
void SetLastError(DWORD error);
