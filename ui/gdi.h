// Painting objects: bitmaps and brushes behind GDI-style handles, and the device
// context that WM_ERASEBKGND and WM_CTLCOLORSTATIC hand to a dialog procedure.
//
// Handles are looked up in one process-wide table and never reused: a deleted or
// unknown handle paints nothing instead of touching freed memory or a newer object.
// Stock objects are never deleted.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/window/windows_ui.h"

using COLORREF = DWORD;  // 0x00BBGGRR

constexpr DWORD PATCOPY = 0x00F00021;
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
constexpr int NULL_BRUSH = 5;  // the stock hollow brush

namespace ui {

// A 32-bit image, pixels 0xAARRGGBB row by row from the top.
struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint32_t> pixels;
};

// What a brush paints with.
struct Brush {
  enum class Kind { Hollow, Solid, Pattern } kind = Kind::Hollow;
  std::uint32_t color = 0;  // 0xAARRGGBB, for Solid
  Image pattern;            // for Pattern; tiled from the window's origin
};

// The surface a dialog procedure paints on during one message.
class DeviceContext {
 public:
  virtual ~DeviceContext() = default;
  // Fills rect (window pixels) with brush.
  virtual void Fill(const RECT& rect, const Brush& brush) = 0;

  HGDIOBJ selectedBrush = nullptr;
  int backgroundMode = OPAQUE;
};

// The bitmap or brush behind handle; nullptr for a deleted, unknown or stock handle
// other than a brush.
std::shared_ptr<const Image> BitmapFromHandle(HGDIOBJ handle);
std::shared_ptr<const Brush> BrushFromHandle(HGDIOBJ handle);

// A new bitmap handle holding image.
HBITMAP CreateBitmapFromImage(Image image);

}  // namespace ui

HBRUSH CreatePatternBrush(HBITMAP bitmap);
HBRUSH CreateSolidBrush(COLORREF color);
HGDIOBJ GetStockObject(int which);
// Deletes a bitmap or brush; FALSE for unknown handles and stock objects.
BOOL DeleteObject(HGDIOBJ object);
// Selects a brush into the context; returns the brush selected before.
HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object);
// PATCOPY: fills the rectangle with the selected brush.
BOOL PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop);
int SetBkMode(HDC hdc, int mode);
// The client area of a dialog: left and top 0, right and bottom its size in pixels.
BOOL GetClientRect(HWND hWnd, RECT* rect);
