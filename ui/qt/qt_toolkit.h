// The Qt toolkit: runs the program's dialogs as Qt widgets. Needs a QApplication.
#pragma once

#include <vector>

#include "platform/window/dialog.h"

namespace ui::qt {

class QtDialog;

class QtToolkit : public Toolkit {
 public:
  QtToolkit();
  ~QtToolkit() override;

  INT_PTR RunDialog(int templateId, HWND owner, DLGPROC proc, LPARAM param) override;
  void PostQuit(int exitCode) override;
  void Broadcast(UINT msg, WPARAM wParam, LPARAM lParam) override;
  int MessageBox(const std::string& text, const std::string& caption, UINT type) override;

 private:
  std::vector<QtDialog*> running_;  // innermost last; touched on the window thread only
};

}  // namespace ui::qt
