#include "ui/dialog_background.h"

#include "base/shell_handles.h"
#include "ui/gdi.h"

void PaintPatternBackground(HWND hDlg, HDC hdc) {
  RECT rect;
  GetClientRect(hDlg, &rect);
  HBRUSH pattern = CreatePatternBrush(g_hBackgroundBitmap);
  HGDIOBJ previous = SelectObject(hdc, pattern);
  PatBlt(hdc, rect.left, rect.top, rect.right, rect.bottom, PATCOPY);
  SelectObject(hdc, previous);
  DeleteObject(pattern);
}

INT_PTR TransparentStatic(HDC hdc) {
  SetBkMode(hdc, TRANSPARENT);
  return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
}
