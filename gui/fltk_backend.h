// The FLTK 1.3 backend: each shown form is an Fl_Double_Window whose client area has the form's
// size, each visible control a widget at its stored position. Controls that are not visible have
// no widget at all, so neither the mouse nor the keyboard can reach them. Widgets are added in tab
// order, which is the order FLTK moves the focus in.
//
// Setting the environment variable UPDATEBANK_DUMP_WIDGETS to a file path makes the message loop
// write the main window's widget tree to that file once the window is on the screen: it is read
// from FLTK's own widgets, so a test outside the process can see what the user sees. The file is
// written whole under another name and then renamed, so a reader never sees half of it. Lines,
// fields separated by tabs; in text fields backslash, tab, CR and LF are written \\ \t \r \n:
//
//   LINE     FIELDS
//   first    "window", caption, x, y, client width, client height
//   others   kind (label, button, edit, memo, other), control name, x, y, width, height,
//            visible (0/1), can take the focus (0/1), caption or text
//
// The widget lines come in the window's child order, which is the tab order. The file is written
// again just before each message box or error box comes up.
//
// Setting UPDATEBANK_LOG_BOXES to a file path appends one line to that file for each message box
// and error box just before it is shown: "message" or "error", the title and the text, separated
// by tabs and escaped as above.
#pragma once

#include <memory>

#include "gui/backend.h"

namespace gui {

// The backend on the display named by DISPLAY; null when that display cannot be opened.
std::unique_ptr<Backend> MakeFltkBackend();

}  // namespace gui
