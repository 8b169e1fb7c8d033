#include "platform/window/dialog.h"

#include <atomic>

namespace ui {

Dialog::~Dialog() = default;

HWND Dialog::Item(int id) {
  if (id == 0 || !HasItem(id)) return nullptr;
  std::lock_guard lock(itemsLock_);
  for (const auto& item : items_) {
    if (item->Id() == id) return static_cast<Window*>(item.get());
  }
  items_.push_back(std::make_unique<Window>(this, id));
  return static_cast<Window*>(items_.back().get());
}

Dialog* DialogFromHandle(HWND hWnd) {
  if (hWnd == nullptr) return nullptr;
  return static_cast<Window*>(hWnd)->OwnerDialog();
}

namespace {
std::atomic<Toolkit*> g_toolkit{nullptr};
}

void SetToolkit(Toolkit* toolkit) { g_toolkit.store(toolkit); }
Toolkit* CurrentToolkit() { return g_toolkit.load(); }

}  // namespace ui
