// The program's dialog templates.
#include "ui/dialog_template.h"

namespace ui {

namespace {

constexpr DWORD kButton = kTabStop;

// The main window. The list view gets its columns from the file list at creation.
const DialogTemplate kMainWindow{
    IDD_MAIN,
    "Halvane",
    450,
    258,
    "DejaVu Sans",
    8,
    {
        {ControlKind::Label, kNoId, "MIDI Files", 7, 6, 127, 8, kAlignLeft},
        {ControlKind::ListView, 2003, "", 7, 17, 248, 188, kSingleSelect | kBorder, "MIDI Files"},
        {ControlKind::PushButton, 2004, "Add File(s)", 8, 208, 60, 20, kButton},
        {ControlKind::PushButton, 2006, "Remove All", 70, 208, 60, 20, kButton},
        {ControlKind::PushButton, 2005, "Remove File", 132, 208, 60, 20, kButton},
        {ControlKind::PushButton, 2007, "Play File", 194, 208, 60, 20, kButton},
        {ControlKind::PushButton, 2017, "Stop Playing", 194, 208, 60, 20, kButton},
        {ControlKind::GroupBox, 1999, "Converter", 263, 12, 180, 216, 0},
        {ControlKind::Label, kNoId, "Format", 268, 26, 24, 10, kAlignRight},
        {ControlKind::ComboList, 2022, "", 300, 24, 32, 64, kTabStop, "Format"},
        {ControlKind::Label, kNoId, "Quality", 342, 26, 24, 10, kAlignRight},
        {ControlKind::ComboList, 2011, "", 370, 24, 48, 150, kTabStop, "Quality"},
        {ControlKind::ComboList, 2023, "", 370, 24, 48, 150, kTabStop, "Quality"},
        {ControlKind::Label, kNoId, "Device", 268, 44, 24, 10, kAlignRight},
        {ControlKind::ComboList, 2021, "", 300, 42, 138, 150, kTabStop, "Device"},
        {ControlKind::GroupBox, 2025, "Tempo", 268, 58, 172, 36, 0},
        {ControlKind::Slider, 2026, "", 270, 66, 166, 18, kTabStop, "Tempo"},
        {ControlKind::Label, kNoId, "Slower", 272, 83, 24, 8, kAlignLeft},
        {ControlKind::Label, kNoId, "Normal", 340, 83, 24, 8, kAlignCenter},
        {ControlKind::Label, kNoId, "Faster", 410, 83, 24, 8, kAlignRight},
        {ControlKind::GroupBox, 1998, "Output Path", 268, 98, 172, 42, 0},
        {ControlKind::PushButton, 2013, "...", 274, 110, 16, 12, kButton, "Choose the output folder"},
        {ControlKind::Edit, 2012, "", 294, 110, 142, 12, kReadOnly | kBorder | kTabStop, "Output folder"},
        {ControlKind::CheckBox, 2014, "The same as input directory", 278, 124, 144, 14, kTabStop},
        {ControlKind::GroupBox, 1997, "Progress", 268, 144, 172, 56, 0},
        {ControlKind::Label, 2016, "File:", 274, 156, 160, 12, kAlignLeft},
        {ControlKind::Progress, 2010, "", 272, 170, 164, 12, 0, "Progress"},
        {ControlKind::Label, 2015, "Time elapsed: 00:00 / 00:00", 274, 186, 160, 12, kAlignLeft},
        {ControlKind::PushButton, 2008, "Convert!", 376, 204, 64, 20, kButton},
        {ControlKind::PushButton, 2018, "Abort", 308, 204, 64, 20, kButton},
        {ControlKind::BlackRect, kNoId, "", 7, 232, 436, 1, 0},
        {ControlKind::PushButton, 2001, "About", 7, 235, 56, 20, kButton},
        {ControlKind::PushButton, 1, "Exit", 386, 235, 56, 20, kButton},
    },
};

// The About dialog. Its text names the encoder's and the synthesiser's versions, so the
// dialog fills it in when it opens.
const DialogTemplate kAbout{
    IDD_ABOUT,
    "Halvane :: About",
    217,
    118,
    "DejaVu Sans",
    8,
    {
        {ControlKind::Label, 2102, "", 5, 7, 205, 75, kAlignCenter},
        {ControlKind::PushButton, 2101, "Visit Home Page...", 7, 94, 139, 20, kButton},
        {ControlKind::PushButton, 1, "OK", 160, 94, 50, 20, kButton},  // the OK command id
    },
};

}  // namespace

const DialogTemplate* FindDialogTemplate(int resourceId) {
  if (resourceId == kMainWindow.resourceId) return &kMainWindow;
  if (resourceId == kAbout.resourceId) return &kAbout;
  return nullptr;
}

}  // namespace ui
