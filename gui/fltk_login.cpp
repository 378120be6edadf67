// The "Database Login" dialog of the FLTK backend.
#include "gui/fltk_login.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Secret_Input.H>
#include <FL/Fl_Window.H>

#include <optional>

#include "rtl/edge.h"
#include "rtl/exceptions.h"

namespace gui {

namespace {

struct Outcome {
    Fl_Window* dialog = nullptr;
    enum { kOpen, kAccepted, kCancelled } state = kOpen;
};

// Answering hides the dialog: the message loop then has an event to return with (a state changed
// alone would leave it asleep until the next one) and the loop below ends.
void Accept(Fl_Widget*, void* data) {
    auto* outcome = static_cast<Outcome*>(data);
    outcome->state = Outcome::kAccepted;
    outcome->dialog->hide();
}
// Cancel, Escape and the window's close box.
void Cancel(Fl_Widget*, void* data) {
    auto* outcome = static_cast<Outcome*>(data);
    outcome->state = Outcome::kCancelled;
    outcome->dialog->hide();
}

}  // namespace

bool RunFltkLoginDialog(const std::string& databaseName, std::string& userName,
                        std::string& password) {
    constexpr int kWidth = 340, kHeight = 160;
    Fl_Window dialog(kWidth, kHeight, kLoginTitle);
    dialog.set_modal();
    Outcome outcome;
    outcome.dialog = &dialog;
    dialog.callback(Cancel, &outcome);

    Fl_Box databaseLabel(10, 12, 100, 24, "Database:");
    databaseLabel.align(FL_ALIGN_INSIDE | FL_ALIGN_RIGHT);
    Fl_Box database(115, 12, 215, 24);
    database.copy_label(rtl::ToOperatorText(databaseName).c_str());
    database.align(FL_ALIGN_INSIDE | FL_ALIGN_LEFT);

    Fl_Input user(115, 44, 215, 26, "&User Name:");
    user.maximum_size(kLoginFieldLength);
    user.value(rtl::ToOperatorText(userName.substr(0, kLoginFieldLength)).c_str());
    Fl_Secret_Input secret(115, 78, 215, 26, "&Password:");
    secret.maximum_size(kLoginFieldLength);

    Fl_Return_Button ok(150, 120, 85, 28, "&OK");
    ok.callback(Accept, &outcome);
    Fl_Button cancel(245, 120, 85, 28, "Cancel");
    cancel.callback(Cancel, &outcome);
    dialog.end();

    dialog.hotspot(&dialog);
    dialog.show();
    // The user name is prefilled: the password is what is typed next.
    if (userName.empty()) {
        user.take_focus();
    } else {
        secret.take_focus();
    }
    while (dialog.shown()) Fl::wait();
    bool accepted = outcome.state == Outcome::kAccepted;
    // FLTK holds UTF-8; the engine takes the ANSI page. The password's text is never shown.
    std::optional<std::string> typedUser = rtl::FromOperatorText(user.value());
    std::optional<std::string> typedPassword = rtl::FromOperatorText(secret.value());
    secret.value("");
    if (!accepted) return false;
    if (!typedUser) throw rtl::Exception(rtl::RefusalText("the user name", user.value()));
    if (!typedPassword) {
        throw rtl::Exception(
            "the password holds a character that the ANSI code page (Windows-1252) cannot hold");
    }
    userName = *typedUser;
    password = *typedPassword;
    return true;
}

}  // namespace gui
