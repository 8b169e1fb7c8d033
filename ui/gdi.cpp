#include "ui/gdi.h"

#include <map>
#include <mutex>
#include <optional>
#include <variant>

#include "platform/window/dialog.h"

namespace ui {

namespace {

using GdiObject = std::variant<std::shared_ptr<const Image>, std::shared_ptr<const Brush>>;

// Every live bitmap and brush, by handle. Handles are numbers that are never
// reused, so a deleted handle can never come to name a newer object.
class ObjectTable {
 public:
  HGDIOBJ Add(GdiObject object) {
    std::lock_guard lock(lock_);
    next_ += 4;
    objects_.emplace(next_, std::move(object));
    return reinterpret_cast<HGDIOBJ>(next_);
  }
  bool Remove(HGDIOBJ handle) {
    std::lock_guard lock(lock_);
    return objects_.erase(reinterpret_cast<std::uintptr_t>(handle)) > 0;
  }
  std::optional<GdiObject> Find(HGDIOBJ handle) {
    std::lock_guard lock(lock_);
    const auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == objects_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::mutex lock_;
  std::uintptr_t next_ = 0x10000;
  std::map<std::uintptr_t, GdiObject> objects_;
};

ObjectTable& Objects() {
  static ObjectTable table;
  return table;
}

// The stock hollow brush: a fixed handle below every table handle.
HGDIOBJ const kHollowBrushHandle = reinterpret_cast<HGDIOBJ>(std::uintptr_t{0x1000});

const std::shared_ptr<const Brush>& HollowBrush() {
  static const auto brush = std::make_shared<const Brush>();
  return brush;
}

}  // namespace

std::shared_ptr<const Image> BitmapFromHandle(HGDIOBJ handle) {
  const auto object = Objects().Find(handle);
  if (!object) return nullptr;
  if (const auto* image = std::get_if<std::shared_ptr<const Image>>(&*object)) return *image;
  return nullptr;
}

std::shared_ptr<const Brush> BrushFromHandle(HGDIOBJ handle) {
  if (handle == kHollowBrushHandle) return HollowBrush();
  const auto object = Objects().Find(handle);
  if (!object) return nullptr;
  if (const auto* brush = std::get_if<std::shared_ptr<const Brush>>(&*object)) return *brush;
  return nullptr;
}

HBITMAP CreateBitmapFromImage(Image image) { return Objects().Add(std::make_shared<const Image>(std::move(image))); }

}  // namespace ui

HBRUSH CreatePatternBrush(HBITMAP bitmap) {
  const auto image = ui::BitmapFromHandle(bitmap);
  if (!image) return nullptr;
  // The brush keeps its own copy: deleting the bitmap later leaves it intact.
  ui::Brush brush;
  brush.kind = ui::Brush::Kind::Pattern;
  brush.pattern = *image;
  return ui::Objects().Add(std::make_shared<const ui::Brush>(std::move(brush)));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  ui::Brush brush;
  brush.kind = ui::Brush::Kind::Solid;
  brush.color = 0xFF000000u | ((color & 0xFF) << 16) | (color & 0xFF00) | ((color >> 16) & 0xFF);
  return ui::Objects().Add(std::make_shared<const ui::Brush>(std::move(brush)));
}

HGDIOBJ GetStockObject(int which) { return which == NULL_BRUSH ? ui::kHollowBrushHandle : nullptr; }

BOOL DeleteObject(HGDIOBJ object) {
  if (object == nullptr) return FALSE;
  return ui::Objects().Remove(object) ? TRUE : FALSE;
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
  if (hdc == nullptr) return nullptr;
  auto* dc = static_cast<ui::DeviceContext*>(hdc);
  HGDIOBJ previous = dc->selectedBrush;
  dc->selectedBrush = object;
  return previous;
}

BOOL PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop) {
  if (hdc == nullptr || rop != PATCOPY) return FALSE;
  auto* dc = static_cast<ui::DeviceContext*>(hdc);
  const auto brush = ui::BrushFromHandle(dc->selectedBrush);
  if (!brush) return FALSE;
  dc->Fill(RECT{x, y, x + width, y + height}, *brush);
  return TRUE;
}

int SetBkMode(HDC hdc, int mode) {
  if (hdc == nullptr) return 0;
  auto* dc = static_cast<ui::DeviceContext*>(hdc);
  const int previous = dc->backgroundMode;
  dc->backgroundMode = mode;
  return previous;
}

BOOL GetClientRect(HWND hWnd, RECT* rect) {
  ui::Dialog* dialog = ui::DialogFromHandle(hWnd);
  if (dialog == nullptr || rect == nullptr) return FALSE;
  *rect = dialog->ClientRect();
  return TRUE;
}
