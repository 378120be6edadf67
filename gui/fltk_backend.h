// The FLTK 1.3 backend: each shown form is an Fl_Double_Window whose client area has the form's
// size, each visible control a widget at its stored position. Controls that are not visible have
// no widget at all, so neither the mouse nor the keyboard can reach them. Widgets are added in tab
// order, which is the order FLTK moves the focus in.
//
// Setting the environment variable UPDATEBANK_DUMP_WIDGETS to a file path makes the message loop
// write the main window's widget tree to that file once the window is on the screen: it is read
// from FLTK's own widgets, so a test outside the process can see what the user sees.
#pragma once

#include <memory>

#include "gui/backend.h"

namespace gui {

// The backend on the display named by DISPLAY; null when that display cannot be opened.
std::unique_ptr<Backend> MakeFltkBackend();

}  // namespace gui
