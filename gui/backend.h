// The seam between the GUI class library and what draws it.
//
// The controls (controls.h, form.h) hold every property themselves; a backend only mirrors them.
// When a form is shown the backend gives it a FormPeer, and from then on every property change of
// the form or of one of its controls is passed to the peer (SyncForm / SyncControl), which brings
// its widgets up to date. Edits the user makes in a widget are written back through the control's
// ordinary setters, so the model is always the truth and handlers never see a backend.
//
// Two backends exist: FLTK (fltk_backend.h), and headless (headless.h), which shows nothing,
// answers every message box with OK and records what would have been shown.
#pragma once

#include <memory>
#include <string>

namespace gui {

class TForm;
class TControl;

// The screen cursor shapes the program uses.
enum TCursor { crDefault = 0, crHourGlass = -11, crSQLWait = -17 };

class FormPeer {
  public:
    virtual ~FormPeer() = default;
    // The form's own properties (caption, bounds) changed.
    virtual void SyncForm() = 0;
    // A property of one of the form's controls changed, or the control joined the form. A control
    // that is not visible must not be reachable: the peer then holds no widget for it at all.
    virtual void SyncControl(TControl& control) = 0;
    // The control leaves the form (it is being destroyed); the peer drops its widget.
    virtual void RemoveControl(TControl& control) = 0;
    // Takes the window off the screen; the message loop ends when the main form is closed.
    virtual void Close() = 0;
};

class Backend {
  public:
    virtual ~Backend() = default;
    // Makes the form's window and shows it.
    virtual std::unique_ptr<FormPeer> Realize(TForm& form) = 0;
    // Runs the message loop until the main form's window is closed.
    virtual void RunLoop(TForm& mainForm) = 0;
    // A modal message box with an OK button, titled `title`; returns when it is dismissed.
    virtual void ShowMessage(const std::string& title, const std::string& text) = 0;
    // The default exception handler's modal error box.
    virtual void ShowError(const std::string& title, const std::string& text) = 0;
    virtual void SetCursor(TCursor cursor) = 0;
    // The modal "Database Login" dialog of a dictionary connection: databaseName after
    // "Database:", a user name (prefilled with userName) and a password, each at most 31
    // characters, the password shown as '*'. On OK answers true with the two in userName and
    // password; false when the user cancels.
    virtual bool ShowLoginDialog(const std::string& databaseName, std::string& userName,
                                 std::string& password) = 0;
    // A long operation has done `done` of `total` steps. A window shows nothing of it (the
    // operation holds the message loop anyway); a batch run may keep a progress line.
    virtual void ShowProgress(long long /*done*/, long long /*total*/) {}
};

}  // namespace gui
