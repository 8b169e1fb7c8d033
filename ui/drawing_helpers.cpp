#include "ui/drawing_helpers.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "platform/window/dialog.h"

namespace {

constexpr int kMaxSide = 1024;

// The ground colour of the pattern: a light cool grey, quiet enough for black text.
constexpr int kGroundR = 0xDC;
constexpr int kGroundG = 0xE2;
constexpr int kGroundB = 0xEA;

// A small deterministic grain so the tile does not look flat.
int Grain(int x, int y) {
  std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u + static_cast<std::uint32_t>(y) * 668265263u;
  h = (h ^ (h >> 13)) * 1274126177u;
  return static_cast<int>((h >> 28) & 0x3) - 1;  // -1 .. 2
}

// The largest divisor of side that is at most wanted (at least 2).
int SeamlessPeriod(int side, int wanted) {
  wanted = std::clamp(wanted, 2, side);
  for (int p = wanted; p > 1; --p) {
    if (side % p == 0) return p;
  }
  return side;
}

std::uint32_t Pixel(int r, int g, int b) {
  auto c = [](int v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
  return 0xFF000000u | (c(r) << 16) | (c(g) << 8) | c(b);
}

}  // namespace

BOOL CreateFillBmp(int style, const RECT* rect, int contrast, int period, int, int, HBITMAP* bitmap,
                   HGDIOBJ* fillObject) {
  if (bitmap != nullptr) *bitmap = nullptr;
  if (fillObject != nullptr) *fillObject = nullptr;
  if (rect == nullptr || bitmap == nullptr || fillObject == nullptr) return FALSE;
  const int width = std::clamp<int>(rect->right - rect->left, 1, kMaxSide);
  const int height = std::clamp<int>(rect->bottom - rect->top, 1, kMaxSide);

  ui::Image image;
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  // Both diagonals repeat within the tile, so tiled copies meet without a seam.
  const int px = SeamlessPeriod(width, period);
  const int py = SeamlessPeriod(height, period);
  const int strength = std::clamp(contrast, 0, 96) / 3;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int shade = 0;
      if (style == 1) {
        // Two triangle waves along the diagonals: a soft woven look.
        const int a = (x * py + y * px) % (px * py);
        const int b = (x * py + (height - y) * px) % (px * py);
        const int half = px * py / 2;
        const int wa = std::abs(a - half) * strength / half;
        const int wb = std::abs(b - half) * strength / half;
        shade = (wa + wb) / 2 - strength / 2;
      }
      shade += Grain(x, y);
      image.pixels[static_cast<std::size_t>(y) * width + x] =
          Pixel(kGroundR + shade, kGroundG + shade, kGroundB + shade);
    }
  }
  *bitmap = ui::CreateBitmapFromImage(std::move(image));
  *fillObject = CreateSolidBrush(static_cast<COLORREF>(kGroundR | (kGroundG << 8) | (kGroundB << 16)));
  return TRUE;
}

BOOL RedrawButton(HWND hButton, const BUTTON_DECORATION* decoration) {
  ui::Dialog* dialog = ui::DialogFromHandle(hButton);
  if (dialog == nullptr || decoration == nullptr) return FALSE;
  const auto* window = static_cast<const ui::Window*>(hButton);
  if (window->IsDialog()) return FALSE;
  ui::ButtonDecoration button;
  button.iconId = static_cast<int>(decoration->words[kDecorationIcon]);
  if (const auto* tooltip = reinterpret_cast<const char*>(decoration->words[kDecorationTooltip])) {
    button.tooltip = tooltip;
  }
  button.style = static_cast<DWORD>(decoration->words[kDecorationStyle]);
  dialog->DecorateButton(window->Id(), button);
  return TRUE;
}
