#include "gui/controls.h"

#include "gui/form.h"

namespace gui {

TControl::TControl(rtl::TComponent* owner) : rtl::TComponent(owner) {}

TControl::~TControl() {
    if (parent_) parent_->RemoveControl(*this);
}

void TControl::SetParent(TForm* parent) {
    if (parent == parent_) return;
    if (parent_) parent_->RemoveControl(*this);
    parent_ = parent;
    if (parent_) parent_->InsertControl(*this);
}

void TControl::SetLeft(int value) { SetBounds(value, top_, width_, height_); }
void TControl::SetTop(int value) { SetBounds(left_, value, width_, height_); }
void TControl::SetWidth(int value) { SetBounds(left_, top_, value, height_); }
void TControl::SetHeight(int value) { SetBounds(left_, top_, width_, value); }

void TControl::SetBounds(int left, int top, int width, int height) {
    if (left == left_ && top == top_ && width == width_ && height == height_) return;
    left_ = left;
    top_ = top;
    width_ = width < 0 ? 0 : width;
    height_ = height < 0 ? 0 : height;
    Changed();
}

void TControl::SetVisible(bool value) {
    if (value == visible_) return;
    visible_ = value;
    Changed();
}

void TControl::SetTabOrder(int value) {
    if (value == tabOrder_) return;
    tabOrder_ = value;
    // The peer places a widget by tab order when it makes it; a new order means a new place.
    if (parent_ && parent_->Peer() && visible_) {
        parent_->Peer()->RemoveControl(*this);
        parent_->Peer()->SyncControl(*this);
    }
}

void TControl::Changed() {
    if (parent_ && parent_->Peer()) parent_->Peer()->SyncControl(*this);
}

void TLabel::SetCaption(const std::string& value) {
    if (value == caption_) return;
    caption_ = value;
    Changed();
}

TEdit::TEdit(rtl::TComponent* owner) : TControl(owner) { SetBounds(0, 0, 121, 21); }

void TEdit::SetText(const std::string& value) {
    if (value == text_) return;
    text_ = value;
    Changed();
}

TButton::TButton(rtl::TComponent* owner) : TControl(owner) { SetBounds(0, 0, 75, 25); }

void TButton::SetCaption(const std::string& value) {
    if (value == caption_) return;
    caption_ = value;
    Changed();
}

void TButton::Click() {
    if (onClick_) onClick_(this);
}

TMemo::TMemo(rtl::TComponent* owner)
    : TControl(owner), lines_(std::make_unique<rtl::TStringList>()) {
    SetBounds(0, 0, 185, 89);
    lines_->SetOnChange([this] { Changed(); });
}

TMemo::~TMemo() { lines_->SetOnChange(nullptr); }

void TMemo::SetLines(const rtl::TStrings& value) { lines_->Assign(value); }

}  // namespace gui
