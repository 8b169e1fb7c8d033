#include "ui/gdi.h"

#include <map>
#include <mutex>
#include <optional>
#include <variant>

#include "ui/dialog.h"

namespace ui {

namespace {

using GdiObject = std::variant<std::shared_ptr<const Image>, std::shared_ptr<const Brush>>;

// Every live bitmap and brush, by handle. Handles are the addresses of the
// objects, so a handle is never reused while its object lives.
class ObjectTable {
 public:
  HGDIOBJ Add(GdiObject object) {
    std::lock_guard lock(lock_);
    HGDIOBJ handle = std::visit([](const auto& p) { return const_cast<void*>(static_cast<const void*>(p.get())); }, object);
    objects_.emplace(handle, std::move(object));
    return handle;
  }
  bool Remove(HGDIOBJ handle) {
    std::lock_guard lock(lock_);
    return objects_.erase(handle) > 0;
  }
  std::optional<GdiObject> Find(HGDIOBJ handle) {
    std::lock_guard lock(lock_);
    const auto it = objects_.find(handle);
    if (it == objects_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::mutex lock_;
  std::map<HGDIOBJ, GdiObject> objects_;
};

ObjectTable& Objects() {
  static ObjectTable table;
  return table;
}

const std::shared_ptr<const Brush>& HollowBrush() {
  static const auto brush = std::make_shared<const Brush>();
  return brush;
}

HGDIOBJ StockHandle(const std::shared_ptr<const Brush>& brush) {
  return const_cast<void*>(static_cast<const void*>(brush.get()));
}

}  // namespace

std::shared_ptr<const Image> BitmapFromHandle(HGDIOBJ handle) {
  const auto object = Objects().Find(handle);
  if (!object) return nullptr;
  if (const auto* image = std::get_if<std::shared_ptr<const Image>>(&*object)) return *image;
  return nullptr;
}

std::shared_ptr<const Brush> BrushFromHandle(HGDIOBJ handle) {
  if (handle != nullptr && handle == StockHandle(HollowBrush())) return HollowBrush();
  const auto object = Objects().Find(handle);
  if (!object) return nullptr;
  if (const auto* brush = std::get_if<std::shared_ptr<const Brush>>(&*object)) return *brush;
  return nullptr;
}

HBITMAP CreateBitmapFromImage(Image image) {
  return Objects().Add(std::make_shared<const Image>(std::move(image)));
}

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

HGDIOBJ GetStockObject(int which) {
  return which == NULL_BRUSH ? ui::StockHandle(ui::HollowBrush()) : nullptr;
}

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
