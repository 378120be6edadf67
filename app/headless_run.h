// Running a command of the main window without a display (updatebank convert).
//
// What the window would show goes to `out`, one line each, in the order it happens: a message box
// as "message: TEXT" (answered OK at once), a line added to a memo as "memo: TEXT". In TEXT a
// carriage return is written as the two characters \r and a line feed as \n; nothing else is
// escaped. Text inside the process is bytes of the ANSI code page; every line is printed as
// UTF-8 (PrintedLine). An exception that ends the command, which the window would show in its error
// box, is written as "error: TEXT" on `err`. The progress a command reports goes to a progress line
// when one is given (see progress_line.h); it is cleared before every other line and at the end.
#pragma once

#include <functional>
#include <ostream>
#include <string>

#include "app/progress_line.h"
#include "app/updatebank.h"
#include "gui/headless.h"

namespace app {

// TEXT of an output line, still in the process's code page.
std::string EscapeLine(const std::string& text);
// The line as printed: EscapeLine, then UTF-8.
std::string PrintedLine(const std::string& text);

// Runs `command` with the backend's events reported as above. Returns the exit status: 0 when the
// command ends normally, 1 when an exception ends it.
int RunHeadless(gui::HeadlessBackend& backend, const std::function<void()>& command,
                std::ostream& out, std::ostream& err, ProgressLine* progress = nullptr);

// The CONVERT command on a shown form under the headless backend: SOURCE and TARGET go into the
// two folder boxes exactly as given, then the CONVERT button's handler runs.
int RunConvert(TForm1& form, gui::HeadlessBackend& backend, const std::string& source,
               const std::string& target, std::ostream& out, std::ostream& err,
               ProgressLine* progress = nullptr);

// Makes the backend's login dialog the one that dictionary connections show (kds).
void UseBackendLoginDialog();

// `updatebank convert SOURCE TARGET`: the application on the headless backend, the engine's own
// message box as one line on `err`, the main window created from its stored definition, then
// RunConvert. With `progressOnErr` (`err` is a terminal) the progress line is kept on `err`.
// `observer`, when given, is told of every value copied (see convert_observer.h).
int ConvertWithoutWindow(const std::string& source, const std::string& target, std::ostream& out,
                         std::ostream& err, bool progressOnErr = false,
                         ConvertObserver* observer = nullptr);

}  // namespace app
