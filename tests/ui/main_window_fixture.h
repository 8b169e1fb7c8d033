// The main window run through the fake toolkit over the real engine: a fresh log,
// process buffers, background pattern and owned mutex for each test as start-up
// makes them, a generated SoundFont as the only port, the capture component
// registered, silent audio output, and the process's end recorded instead of taken.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "base/debug_log.h"
#include "base/process_state.h"
#include "base/shell_handles.h"
#include "platform/core/kernel.h"
#include "platform/dmusic/dmusic.h"
#include "platform/dmusic/port_table.h"
#include "platform/instance/single_instance.h"
#include "platform/window/winuser.h"
#include "tests/support/log_lines.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/fake_dialog.h"
#include "ui/dialog_template.h"
#include "ui/drawing_helpers.h"
#include "ui/gdi.h"
#include "ui/main_window.h"

class MainWindowFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite();
  void SetUp() override;
  void TearDown() override;

  // Runs the main window with script playing the user.
  INT_PTR Run(ui::testing::FakeToolkit::Script script);

  // A port of the generated SoundFont named name (empty: one the list skips).
  platform::PortInfo Port(const std::u16string& name, bool audioPath = true) const;
  // Writes a short MIDI file (one note) and returns its path.
  std::string MidiFile(const std::string& name) const;

  std::vector<std::string> LogLines() const { return testing_support::ReadLogLines(temp_.File("log.txt")); }
  // True when the log holds want as consecutive lines (indentation included).
  bool LogHas(const std::vector<std::string>& want) const;

  testing_support::TempDir temp_;
  std::string soundFont_;
  ui::testing::FakeToolkit toolkit_;
  std::vector<UINT> exits_;
};
