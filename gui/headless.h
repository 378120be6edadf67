// The headless backend: no window system. Message boxes and error boxes are answered at once
// with OK and recorded, with the lines added to memos, in the order they happen; a listener sees
// each one as it happens (a batch run prints them). The message loop has nothing to wait for and
// returns at once. The login dialog is answered by the login source the caller gives; without one
// it is cancelled. It is not recorded: nothing of it is shown.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "gui/backend.h"

namespace gui {

struct HeadlessEvent {
    enum Kind { kMessage, kError, kMemoLine };
    Kind kind;
    std::string title;  // message and error boxes
    std::string text;
    std::string control;  // memo lines: the memo's name
    bool operator==(const HeadlessEvent&) const = default;
};

class HeadlessBackend : public Backend {
  public:
    std::unique_ptr<FormPeer> Realize(TForm& form) override;
    void RunLoop(TForm& mainForm) override;
    void ShowMessage(const std::string& title, const std::string& text) override;
    void ShowError(const std::string& title, const std::string& text) override;
    void SetCursor(TCursor cursor) override { cursor_ = cursor; }
    bool ShowLoginDialog(const std::string& databaseName, std::string& userName,
                         std::string& password) override;
    // Answers the login dialog in its place: false cancels it.
    using LoginSource = std::function<bool(const std::string& databaseName, std::string& userName,
                                           std::string& password)>;
    void SetLoginSource(LoginSource source) { loginSource_ = std::move(source); }
    // Progress is not recorded as an event: it goes to the progress listener only.
    void ShowProgress(long long done, long long total) override {
        if (progressListener_) progressListener_(done, total);
    }

    const std::vector<HeadlessEvent>& Events() const { return events_; }
    void ClearEvents() { events_.clear(); }
    void SetListener(std::function<void(const HeadlessEvent&)> listener) {
        listener_ = std::move(listener);
    }
    void SetProgressListener(std::function<void(long long done, long long total)> listener) {
        progressListener_ = std::move(listener);
    }
    TCursor Cursor() const { return cursor_; }

  private:
    friend class HeadlessFormPeer;
    void Record(HeadlessEvent event);

    std::vector<HeadlessEvent> events_;
    std::function<void(const HeadlessEvent&)> listener_;
    std::function<void(long long, long long)> progressListener_;
    TCursor cursor_ = crDefault;
    LoginSource loginSource_;
};

}  // namespace gui
