#include "app/convert_cli/terminal_dialog.h"

#include <cstdio>

#include "convert/main_window_ids.h"
#include "platform/core/format.h"

namespace convert_cli {

namespace {

// The title the worker gives the window while a file plays: "Halvane -- name".
constexpr const char* kTitlePrefix = "Halvane -- ";
constexpr const char* kTimePrefix = "Time elapsed: ";
constexpr int kBarWidth = 24;

// Seconds of "mm:ss"; 0 when the text is not one.
double MinSecSeconds(const std::string& text) {
  unsigned minutes = 0, seconds = 0;
  return std::sscanf(text.c_str(), "%u:%u", &minutes, &seconds) == 2 ? minutes * 60.0 + seconds : 0.0;
}

}  // namespace

TerminalDialog::TerminalDialog(const ui::DialogTemplate& tmpl, Procedure proc, BoxHandler boxes, bool live, bool quiet)
    : HeadlessDialog(tmpl, std::move(proc), std::move(boxes)), live_(live && !quiet), quiet_(quiet) {}

void TerminalDialog::SetTitle(const std::string& title) {
  HeadlessDialog::SetTitle(title);
  std::lock_guard guard(lock_);
  if (title.rfind(kTitlePrefix, 0) != 0) return;
  // The name comes from outside: it must not move the cursor or end the line.
  file_ = platform::EscapeControls(title.substr(std::string(kTitlePrefix).size()));
  time_.clear();
  elapsed_ = 0;
  percent_ = 0;
  started_ = std::chrono::steady_clock::now();
  Redraw();
}

void TerminalDialog::SetItemText(int id, const std::string& text) {
  HeadlessDialog::SetItemText(id, text);
  if (id != IDC_TIMELABEL || text.rfind(kTimePrefix, 0) != 0) return;
  std::lock_guard guard(lock_);
  time_ = text.substr(std::string(kTimePrefix).size());
  elapsed_ = MinSecSeconds(time_);
  Redraw();
}

void TerminalDialog::ProgressSetPos(int id, int position) {
  HeadlessDialog::ProgressSetPos(id, position);
  if (id != IDC_PROGRESS) return;
  std::lock_guard guard(lock_);
  percent_ = position < 0 ? 0 : position > 100 ? 100 : position;
  Redraw();
}

void TerminalDialog::Redraw() {
  if (!live_ || file_.empty()) return;
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
  const int filled = percent_ * kBarWidth / 100;
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
  char speed[32] = "";
  if (wall > 0.2 && elapsed_ > 0) std::snprintf(speed, sizeof speed, "  %.1fx real time", elapsed_ / wall);
  std::printf("\r\033[K%s  %s [%s]%s", file_.c_str(), time_.empty() ? "--:-- / --:--" : time_.c_str(), bar.c_str(),
              speed);
  std::fflush(stdout);
  lineShown_ = true;
}

void TerminalDialog::ReportFinished(const std::string& line) {
  std::lock_guard guard(lock_);
  file_.clear();
  if (quiet_) return;
  if (live_) std::printf("\r\033[K");
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
  lineShown_ = false;
}

void TerminalDialog::ClearLine() {
  std::lock_guard guard(lock_);
  file_.clear();
  if (!lineShown_) return;
  std::printf("\r\033[K");
  std::fflush(stdout);
  lineShown_ = false;
}

}  // namespace convert_cli
