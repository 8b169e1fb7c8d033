// Opening a web address (or a local document) in the user's web browser.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Opens address in the browser registered for the HTTP protocol: the executable cut
// out of the command under HKEY_CLASSES_ROOT "http\shell\open\command" is started with
// the address as its one parameter. Where no such command names an executable, the
// desktop's default handler (xdg-open) opens the address. Reports nothing: a browser
// that cannot be started simply does not appear.
void OpenInBrowser(const char* address);

namespace ui {

// What OpenInBrowser uses to start a program with its arguments (each passed whole,
// no command interpreter). The program is the registered executable or "xdg-open".
using BrowserStarter = std::function<void(const std::string& program, const std::vector<std::string>& arguments)>;

// Replaces how OpenInBrowser starts programs, so tests see what would be started; an
// empty function restores the real start.
void SetBrowserStarterForTesting(BrowserStarter starter);

}  // namespace ui
