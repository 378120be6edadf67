#include "gui/form.h"

#include <algorithm>

#include "gui/application.h"

namespace gui {

TForm::TForm(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TForm::~TForm() {
    // The window goes first, then the owned components while the form is still whole (the
    // controls leave it one by one). Controls placed here but owned elsewhere are let go.
    peer_.reset();
    DestroyComponents();
    for (TControl* control : controls_) control->parent_ = nullptr;
    controls_.clear();
}

void TForm::SetCaption(const std::string& value) {
    caption_ = value;
    Changed();
}

void TForm::SetLeft(int value) {
    left_ = value;
    Changed();
}

void TForm::SetTop(int value) {
    top_ = value;
    Changed();
}

void TForm::SetWidth(int value) {
    width_ = value;
    Changed();
}

void TForm::SetHeight(int value) {
    height_ = value;
    Changed();
}

TNotifyEvent TForm::MethodAddress(const std::string&) { return {}; }

void TForm::Show() {
    if (!peer_) peer_ = Application().GetBackend().Realize(*this);
}

void TForm::Close() {
    if (peer_) peer_->Close();
}

void TForm::InsertControl(TControl& control) {
    controls_.push_back(&control);
    if (peer_) peer_->SyncControl(control);
}

void TForm::RemoveControl(TControl& control) {
    if (peer_) peer_->RemoveControl(control);
    controls_.erase(std::remove(controls_.begin(), controls_.end(), &control), controls_.end());
}

void TForm::Changed() {
    if (peer_) peer_->SyncForm();
}

}  // namespace gui
