#include "platform/window/drop_files.h"

#include <algorithm>
#include <cstring>

#include "platform/window/dialog.h"

void DragAcceptFiles(HWND hWnd, BOOL accept) {
  if (ui::Dialog* dialog = ui::DialogFromHandle(hWnd)) dialog->AcceptFiles(accept != FALSE);
}

UINT DragQueryFileA(HDROP drop, UINT index, char* buffer, UINT size) {
  if (drop == nullptr) return 0;
  if (index == 0xFFFFFFFF) return static_cast<UINT>(drop->paths.size());
  if (index >= drop->paths.size()) return 0;
  const std::string& path = drop->paths[index];
  if (buffer != nullptr && size > 0) {
    const std::size_t count = std::min<std::size_t>(path.size(), size - 1);
    std::memcpy(buffer, path.data(), count);
    buffer[count] = '\0';
  }
  return static_cast<UINT>(path.size());
}

void DragFinish(HDROP) {}
