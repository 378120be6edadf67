// The "Database Login" dialog drawn with FLTK (see Backend::ShowLoginDialog).
#pragma once

#include <string>

namespace gui {

inline constexpr char kLoginTitle[] = "Database Login";
// Longest user name and password the dialog takes.
inline constexpr int kLoginFieldLength = 31;

// Shows the modal dialog and runs the message loop until it is answered.
bool RunFltkLoginDialog(const std::string& databaseName, std::string& userName,
                        std::string& password);

}  // namespace gui
