// The drawing helpers the windows use: the background pattern and the button
// decoration (icon and tooltip).
#pragma once

#include "ui/gdi.h"
#include "platform/window/windows_ui.h"

// A button decoration record: 16 words, zero-filled by the caller, of which
//   word 0   the icon's resource number (201, 203 ... 209),
//   word 14  the address of the tooltip text, or 0 for no tooltip,
//   word 15  the style word, kept with the button unchanged.
// The words are pointer-sized so that word 14 can hold an address.
struct BUTTON_DECORATION {
  ULONG_PTR words[16];
};

constexpr int kDecorationIcon = 0;
constexpr int kDecorationTooltip = 14;
constexpr int kDecorationStyle = 15;

// Makes the background pattern: an image of the rectangle's size (128 x 128 as the
// windows use it) into *bitmap, and a solid brush of the pattern's ground colour into
// *fillObject. style picks the pattern (1: diagonal weave), contrast is the weave's
// strength in steps of lightness, period its repeat in pixels (rounded to a divisor
// of the size so the tile repeats seamlessly); tint and flags are reserved (0).
// Returns FALSE, with both outputs nullptr, for a missing rectangle or outputs.
BOOL CreateFillBmp(int style, const RECT* rect, int contrast, int period, int tint, int flags, HBITMAP* bitmap,
                   HGDIOBJ* fillObject);

// Gives the push button hButton the record's icon and tooltip for the rest of the
// dialog's life; the button still sends its command when pressed.
BOOL RedrawButton(HWND hButton, const BUTTON_DECORATION* decoration);
