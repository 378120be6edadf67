// The application object, the screen (its cursor) and the modal message box.
//
// One application per process. Initialize() chooses the backend: the FLTK window system, or the
// headless backend of tests and batch runs. Everything shown to the user goes through it, so the
// same handlers run unchanged under both.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "gui/backend.h"

namespace gui {

class TForm;

class TApplication {
  public:
    // Sets the backend; the application starts without one and refuses to show anything then.
    void Initialize(std::unique_ptr<Backend> backend);
    bool Initialized() const { return backend_ != nullptr; }
    Backend& GetBackend();

    // The title of message boxes and error boxes.
    const std::string& Title() const { return title_; }
    void SetTitle(const std::string& value) { title_ = value; }

    TForm* MainForm() const { return mainForm_; }
    // The caller keeps ownership of the form; it must outlive Run().
    void SetMainForm(TForm* form) { mainForm_ = form; }

    // Shows the main form and runs the message loop until that form is closed.
    void Run();

    // The default exception handler: shows the exception's message in a modal error box (the
    // silent abort shows nothing) and returns, so the message loop goes on.
    void HandleException(const std::exception& e);

    // Runs one event handler as the message loop does: an exception leaving it goes to
    // HandleException and does not end the loop.
    template <typename Handler>
    void Dispatch(Handler&& handler) {
        try {
            handler();
        } catch (const std::exception& e) {
            HandleException(e);
        }
    }

    // Drops the backend and the main form (tests that start over).
    void Reset();

  private:
    std::unique_ptr<Backend> backend_;
    TForm* mainForm_ = nullptr;
    std::string title_ = "updatebank";
};

TApplication& Application();

// The screen: only its cursor is used, the hourglass while a long operation runs.
class TScreen {
  public:
    TCursor Cursor() const { return cursor_; }
    void SetCursor(TCursor value);

  private:
    TCursor cursor_ = crDefault;
};

TScreen& Screen();

// Sets the hourglass for the lifetime of the object and puts the previous cursor back.
class TWaitCursor {
  public:
    explicit TWaitCursor(TCursor cursor = crHourGlass);
    ~TWaitCursor();
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

  private:
    TCursor saved_;
};

// A modal message box titled with the application's title, with an OK button.
void ShowMessage(const std::string& text);
// The same with a title of the caller's (the engine's own error box).
void ShowMessageBox(const std::string& title, const std::string& text);
// The backend's "Database Login" dialog (Backend::ShowLoginDialog).
bool ShowLoginDialog(const std::string& databaseName, std::string& userName, std::string& password);
// Reports the progress of a long operation to the backend; nothing happens without one.
void ShowProgress(long long done, long long total);

}  // namespace gui
