#include "gui/application.h"

#include "gui/form.h"
#include "rtl/exceptions.h"

namespace gui {

void TApplication::Initialize(std::unique_ptr<Backend> backend) { backend_ = std::move(backend); }

Backend& TApplication::GetBackend() {
    if (!backend_) throw rtl::Exception("The application has not been initialized");
    return *backend_;
}

void TApplication::Run() {
    if (!mainForm_) throw rtl::Exception("The application has no main form");
    Backend& backend = GetBackend();
    if (!mainForm_->Showing()) mainForm_->Show();
    backend.RunLoop(*mainForm_);
}

void TApplication::HandleException(const std::exception& e) {
    if (dynamic_cast<const rtl::EAbort*>(&e)) return;
    GetBackend().ShowError(title_, e.what());
}

void TApplication::Reset() {
    mainForm_ = nullptr;
    backend_.reset();
}

TApplication& Application() {
    static TApplication application;
    return application;
}

void TScreen::SetCursor(TCursor value) {
    cursor_ = value;
    if (Application().Initialized()) Application().GetBackend().SetCursor(value);
}

TScreen& Screen() {
    static TScreen screen;
    return screen;
}

TWaitCursor::TWaitCursor(TCursor cursor) : saved_(Screen().Cursor()) { Screen().SetCursor(cursor); }

TWaitCursor::~TWaitCursor() { Screen().SetCursor(saved_); }

void ShowMessage(const std::string& text) { ShowMessageBox(Application().Title(), text); }

void ShowMessageBox(const std::string& title, const std::string& text) {
    Application().GetBackend().ShowMessage(title, text);
}

bool ShowLoginDialog(const std::string& databaseName, std::string& userName,
                     std::string& password) {
    return Application().GetBackend().ShowLoginDialog(databaseName, userName, password);
}

void ShowProgress(long long done, long long total) {
    if (Application().Initialized()) Application().GetBackend().ShowProgress(done, total);
}

}  // namespace gui
