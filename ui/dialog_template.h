// Dialog templates: the caption, size and controls of each dialog, in dialog units,
// as data. A window toolkit builds the dialog from its template; a template is
// looked up by its resource number.
#pragma once

#include <vector>

#include "platform/core/wintypes.h"

namespace ui {

enum class ControlKind {
  Label,      // static text
  BlackRect,  // static black rectangle (separator line)
  PushButton,
  CheckBox,  // auto check box
  GroupBox,
  Edit,
  ComboList,  // drop-down list (no typing)
  ListView,   // report view
  Slider,     // horizontal trackbar
  Progress,
};

// Control style bits the toolkits look at.
constexpr DWORD kAlignLeft = 0x0;
constexpr DWORD kAlignCenter = 0x1;
constexpr DWORD kAlignRight = 0x2;
constexpr DWORD kReadOnly = 0x0800;      // edit
constexpr DWORD kSingleSelect = 0x0004;  // list view
constexpr DWORD kBorder = 0x00800000;
constexpr DWORD kTabStop = 0x00010000;

// Controls without an identifier (plain labels) carry this id.
constexpr int kNoId = -1;

struct ControlTemplate {
  ControlKind kind;
  int id;
  const char* text;
  int x, y, cx, cy;  // dialog units
  DWORD style;
  // What assistive technology calls a control that shows no text of its own (lists,
  // sliders, edit boxes, a button that reads "..."); labels and buttons are called
  // by their text.
  const char* accessibleName = nullptr;
};

struct DialogTemplate {
  int resourceId;
  const char* caption;
  int cx, cy;  // dialog units
  const char* fontFamily;
  int pointSize;
  std::vector<ControlTemplate> controls;
};

// The template with that resource number, or nullptr.
const DialogTemplate* FindDialogTemplate(int resourceId);

// The main window's template number.
constexpr int IDD_MAIN = 102;
// The About dialog's template number.
constexpr int IDD_ABOUT = 104;

}  // namespace ui
