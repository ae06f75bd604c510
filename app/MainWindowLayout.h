// The main window's description: every control with its place, caption, colours and font.
#pragma once

#include "ui/Form.h"

namespace tc::app {

constexpr int kClientWidth = 1080;
constexpr int kClientHeight = 616;
constexpr const char* kSkinTitle = "Duved Adevavevuvo VA";
constexpr const char* kVersionText = "V_20091222_SP_6";
// Memo1 keeps this many lines; older ones drop first so a long run cannot grow it
// without end.
constexpr std::size_t kLogLineLimit = 5000;
// ... and at most this much text, whatever the lines hold: room for every line at its
// longest shown length would be 5 MiB, so a run of long lines keeps fewer of them.
constexpr std::size_t kLogByteLimit = 4 * 1024 * 1024;

// Builds the controls of the main window into `form` (named "Form1").
void buildMainWindow(ui::Form& form);

}  // namespace tc::app
