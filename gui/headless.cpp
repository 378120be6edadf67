#include "gui/headless.h"

#include <map>

#include "gui/controls.h"
#include "gui/form.h"

namespace gui {

// Shows nothing; it only notices lines appended to memos, which a batch run reports.
class HeadlessFormPeer : public FormPeer {
  public:
    HeadlessFormPeer(HeadlessBackend& backend, TForm& form) : backend_(backend) {
        for (TControl* control : form.Controls()) Remember(*control);
    }
    void SyncForm() override {}
    void SyncControl(TControl& control) override {
        auto* memo = dynamic_cast<TMemo*>(&control);
        if (!memo) return;
        auto found = memoLines_.find(memo);
        if (found == memoLines_.end()) {
            // A memo that joins a shown form brings its lines with it: they were not added.
            Remember(control);
            return;
        }
        std::vector<std::string>& known = found->second;
        const rtl::TStrings& lines = memo->Lines();
        // Lines added after the ones already known are reported; any other change (a cleared or
        // rewritten memo) only resets what is known.
        bool appended = static_cast<int>(known.size()) <= lines.Count();
        for (size_t i = 0; appended && i < known.size(); ++i)
            appended = known[i] == lines[static_cast<int>(i)];
        if (appended) {
            for (int i = static_cast<int>(known.size()); i < lines.Count(); ++i)
                backend_.Record({HeadlessEvent::kMemoLine, "", lines[i], memo->Name()});
        }
        Remember(control);
    }
    void RemoveControl(TControl& control) override { memoLines_.erase(&control); }
    void Close() override {}

  private:
    void Remember(TControl& control) {
        if (auto* memo = dynamic_cast<TMemo*>(&control)) {
            std::vector<std::string>& known = memoLines_[memo];
            known.clear();
            for (int i = 0; i < memo->Lines().Count(); ++i) known.push_back(memo->Lines()[i]);
        }
    }

    HeadlessBackend& backend_;
    std::map<TControl*, std::vector<std::string>> memoLines_;
};

std::unique_ptr<FormPeer> HeadlessBackend::Realize(TForm& form) {
    return std::make_unique<HeadlessFormPeer>(*this, form);
}

void HeadlessBackend::RunLoop(TForm&) {}

void HeadlessBackend::ShowMessage(const std::string& title, const std::string& text) {
    Record({HeadlessEvent::kMessage, title, text, ""});
}

void HeadlessBackend::ShowError(const std::string& title, const std::string& text) {
    Record({HeadlessEvent::kError, title, text, ""});
}

bool HeadlessBackend::ShowLoginDialog(const std::string& databaseName, std::string& userName,
                                      std::string& password) {
    if (!loginSource_) return false;
    return loginSource_(databaseName, userName, password);
}

void HeadlessBackend::Record(HeadlessEvent event) {
    events_.push_back(event);
    if (listener_) listener_(events_.back());
}

}  // namespace gui
