// The main window in a terminal: the headless dialog, whose title, labels and
// progress bar the conversion worker sets, shown as a progress line per file, and
// whose message boxes are answered at once and handed to the program.
#pragma once

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>

#include "ui/headless/headless_dialog.h"

namespace convert_cli {

class TerminalDialog : public ui::HeadlessDialog {
 public:
  // live: redraw one line in place (standard output is a terminal); otherwise
  // nothing is shown until a file is finished. quiet: show nothing at all.
  TerminalDialog(const ui::DialogTemplate& tmpl, Procedure proc, BoxHandler boxes, bool live, bool quiet);

  void SetTitle(const std::string& title) override;
  void SetItemText(int id, const std::string& text) override;
  void ProgressSetPos(int id, int position) override;

  // A file is finished: its progress line gives way to line (already escaped), on
  // standard output; nothing when quiet.
  void ReportFinished(const std::string& line);
  // Clears the progress line before a message goes to standard error.
  void ClearLine();

 private:
  void Redraw();  // with lock_ held

  bool live_;
  bool quiet_;
  std::mutex lock_;
  std::string file_;    // the file in progress, as the title names it; empty between files
  std::string time_;    // "mm:ss / mm:ss"
  double elapsed_ = 0;  // seconds of music rendered
  int percent_ = 0;
  std::chrono::steady_clock::time_point started_;
  bool lineShown_ = false;
};

}  // namespace convert_cli
