// The controls of a form: label, single-line edit, push button and memo.
//
// A control is a component owned (and destroyed) by its form and placed on it by SetParent. It
// keeps its properties itself; once its form is shown, each change is mirrored to the backend's
// peer (backend.h). Positions are client coordinates of the form, in pixels.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "rtl/component.h"
#include "rtl/stringlist.h"

namespace gui {

class TForm;

// Event without arguments beyond the component that raised it.
using TNotifyEvent = std::function<void(rtl::TComponent* sender)>;

class TControl : public rtl::TComponent {
  public:
    explicit TControl(rtl::TComponent* owner);
    ~TControl() override;

    TForm* Parent() const { return parent_; }
    void SetParent(TForm* parent);

    int Left() const { return left_; }
    void SetLeft(int value);
    int Top() const { return top_; }
    void SetTop(int value);
    int Width() const { return width_; }
    void SetWidth(int value);
    int Height() const { return height_; }
    void SetHeight(int value);
    void SetBounds(int left, int top, int width, int height);

    // A control that is not visible is not shown and cannot take the focus.
    bool Visible() const { return visible_; }
    void SetVisible(bool value);

    // Position in the keyboard (Tab) order of the form; -1 for controls that never take the focus.
    int TabOrder() const { return tabOrder_; }
    void SetTabOrder(int value);

  protected:
    // Mirrors a property change to the form's peer, when the form is shown.
    void Changed();

  private:
    friend class TForm;
    TForm* parent_ = nullptr;
    int left_ = 0;
    int top_ = 0;
    int width_ = 0;
    int height_ = 0;
    bool visible_ = true;
    int tabOrder_ = -1;
};

// Static text; never takes the focus.
class TLabel : public TControl {
  public:
    explicit TLabel(rtl::TComponent* owner) : TControl(owner) {}
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& value);

  private:
    std::string caption_;
};

// Single-line edit box.
class TEdit : public TControl {
  public:
    explicit TEdit(rtl::TComponent* owner);
    const std::string& Text() const { return text_; }
    void SetText(const std::string& value);

  private:
    std::string text_;
};

class TButton : public TControl {
  public:
    explicit TButton(rtl::TComponent* owner);
    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& value);

    const TNotifyEvent& OnClick() const { return onClick_; }
    void SetOnClick(TNotifyEvent handler) { onClick_ = std::move(handler); }
    // Runs the click handler, as a press of the button does. Exceptions pass to the caller; the
    // message loop hands them to the application's default handler.
    void Click();

  private:
    std::string caption_;
    TNotifyEvent onClick_;
};

// Multi-line edit box; its text is a string list, one item per line.
class TMemo : public TControl {
  public:
    explicit TMemo(rtl::TComponent* owner);
    ~TMemo() override;
    rtl::TStringList& Lines() { return *lines_; }
    const rtl::TStringList& Lines() const { return *lines_; }
    // Replaces the lines, as the stored definition and the user's typing do.
    void SetLines(const rtl::TStrings& value);

  private:
    std::unique_ptr<rtl::TStringList> lines_;
};

}  // namespace gui
