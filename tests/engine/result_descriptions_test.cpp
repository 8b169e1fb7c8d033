#include "engine/result_descriptions.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace {

struct Row {
  std::uint32_t code;
  std::string text;
};

// The checked-in data file that the table is generated from.
std::vector<Row> ReadDataFile() {
  const std::string bytes = testing_support::ReadFileBytes(HALVANE_RESULT_CODES_TSV);
  std::vector<Row> rows;
  std::istringstream in(bytes);
  std::string line;
  while (std::getline(in, line)) {
    const auto tab = line.find('\t');
    if (tab == std::string::npos) {
      ADD_FAILURE() << "row without a tab: " << line;
      continue;
    }
    rows.push_back({static_cast<std::uint32_t>(std::stoul(line.substr(0, tab), nullptr, 16)), line.substr(tab + 1)});
  }
  return rows;
}

TEST(ResultDescriptions, QuotedRows) {
  const std::vector<std::pair<std::uint32_t, const char*>> quoted = {
      {0x00000000, "The function completed successfully"},
      {0x00000001, "Call successful, but returned FALSE"},
      {0x00000002, "The system cannot find the file specified."},
      {0x08781200,
       "Return value from IDirectMusicTool::ProcessPMsg() which indicates to the performance that it should cue the "
       "PMsg again automatically."},
      {0x08781201,
       "Return value from IDirectMusicTool::ProcessPMsg() which indicates to the performance that it should free the "
       "PMsg automatically."},
      {0x08781211,
       "Returned from IDirectMusicGraph::StampPMsg(), this indicates that the PMsg is already stamped with the last "
       "tool in the graph. The returned PMsg's tool pointer is now NULL."},
      {0x80004002, "The requested COM interface is not available"},
      {0x80004005, "An undetermined error occurred"},
      {0x8000FFFF, "Catastrophic failure"},
      {0x8007000E, "Ran out of memory"},
      {0x80070057, "An invalid parameter was passed to the returning function"},
      {0x80040154, "Class not registered"},
      {0x800401F0, "CoInitialize has not been called."},
      {0x80040201, "The device is full. & An invalid media subtype was specified."},
      {0x80040301, "DIERR_DRIVERFIRST+1"},
      {0x80040303, "DIERR_DRIVERFIRST+3"},
      {0x80150087, "Invalid player"},
      {0x80158420, "Invalid player"},
      {0x80070006, "Invalid handle"},
      {0x80150096, "Invalid handle"},
      {0x80158360, "Invalid handle"},
      {0x88780078, "No sound driver is available for use"},
      {0x887800B4, "Tried to create a DSBCAPS_CTRLFX buffer shorter than DSBSIZE_FX_MIN milliseconds"},
      {0x88781161, "The object requested was not found (numerically equal to DMUS_E_NOT_FOUND)"},
      {0x88781181, "The requested file path is invalid."},
      {0x88781182, "File open failed - either file doesn't exist or is locked."},
      {0x88781184, "Unable to find or create object."},
      {0x88781186, "The file name is missing from the DMUS_OBJECTDESC."},
      {0x88781201, "The tool is already contained in the graph. Create a new instance."},
      {0x88781206, "The default system port could not be opened."},
      {0x8878122A, "An audiopath failed to create because a requested buffer could not be created."},
      {0x8878122F, "The file does not contain a valid container object."},
  };
  for (const auto& [code, text] : quoted) {
    EXPECT_STREQ(GetResultDescription(static_cast<HRESULT>(code)), text) << std::hex << code;
  }
}

TEST(ResultDescriptions, CodesWithoutRowYieldNotAvailable) {
  for (std::uint32_t code : {0x00000007u, 0x80004006u, 0x88781107u, 0x0000000Cu, 0x08781203u, 0xFFFFFFFFu}) {
    EXPECT_STREQ(GetResultDescription(static_cast<HRESULT>(code)), "n/a") << std::hex << code;
  }
  // Severity matters: the success and the failure code are separate rows.
  EXPECT_STRNE(GetResultDescription(static_cast<HRESULT>(0x08781201u)),
               GetResultDescription(static_cast<HRESULT>(0x88781201u)));
}

TEST(ResultDescriptions, TableHoldsExactlyTheDataFile) {
  const std::vector<Row> rows = ReadDataFile();
  const auto table = ResultDescriptionTable();
  ASSERT_EQ(rows.size(), 599u);
  ASSERT_EQ(table.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(table[i].code, rows[i].code) << "row " << i;
    EXPECT_EQ(std::string(table[i].text), rows[i].text) << "row " << i;
    // Every key finds its own row by lookup.
    EXPECT_EQ(GetResultDescription(static_cast<HRESULT>(rows[i].code)), table[i].text);
  }
}

}  // namespace
