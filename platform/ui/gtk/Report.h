// What the window backend shows, as lines of text for tools that drive it (tests, demos):
// when the environment variable KORVANE_UI_REPORT names a file, each line is appended to it,
// prefixed with the time in milliseconds since 1970. Otherwise nothing is written.
//
// Lines (positions and sizes in pixels, relative to the dialog's window):
//   dialog TEMPLATE client X Y W H units BASEX BASEY font FAMILY   after each repaint, then
//   menu TEMPLATE X Y W H                                         its menu button and
//   control TEMPLATE INDEX ID SHOWN X Y W H text X Y W H INKW INKH TEXT
//                          each control: its rectangle, the label or image inside and the
//                          extents of what that holds
//   text TEMPLATE ID TEXT / visible TEMPLATE ID 0|1   a control changed
//   closed TEMPLATE                                   a dialog closed
//   box TITLE<tab>TEXT / box-closed                  a message box opened, dismissed
#pragma once

#include <string>

namespace win::ui::gtk {

bool Reporting();
void Report(const std::string& line);

}  // namespace win::ui::gtk
