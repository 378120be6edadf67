// The headless backend: no window system. Message boxes and error boxes are answered at once
// with OK and recorded, with the lines added to memos, in the order they happen; a listener sees
// each one as it happens (a batch run prints them). The message loop has nothing to wait for and
// returns at once.
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
};

}  // namespace gui
