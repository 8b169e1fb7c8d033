// The capture effect's identity: its class and the name it is listed under among
// the audio effects.
#pragma once

#include "platform/com/guid.h"
#include "platform/core/wintypes.h"

// {BAE5A4C4-DE71-4CD2-924A-68C57536DF02}
inline constexpr CLSID CLSID_OVDMOFilter{0xBAE5A4C4, 0xDE71, 0x4CD2, {0x92, 0x4A, 0x68, 0xC5, 0x75, 0x36, 0xDF, 0x02}};

inline constexpr const WCHAR* kOVDMOFilterName = u"OVDMOFilter";
