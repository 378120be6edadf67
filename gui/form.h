// A form: a top-level window holding controls.
//
// Width and Height are the client area (the window's inside, without its frame): the window
// manager decides the frame. Controls join the form through TControl::SetParent and are kept in
// the order they joined, which is also the order a stored definition creates them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gui/backend.h"
#include "gui/controls.h"
#include "rtl/component.h"

namespace gui {

class TForm : public rtl::TComponent {
  public:
    explicit TForm(rtl::TComponent* owner);
    ~TForm() override;

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& value);
    int Left() const { return left_; }
    void SetLeft(int value);
    int Top() const { return top_; }
    void SetTop(int value);
    int Width() const { return width_; }
    void SetWidth(int value);
    int Height() const { return height_; }
    void SetHeight(int value);

    // Background colour, as the name of a system colour ("clBtnFace").
    const std::string& Color() const { return color_; }
    void SetColor(const std::string& value) { color_ = value; }
    // The font of the form and its controls; a negative height is the character height in pixels.
    const std::string& FontName() const { return fontName_; }
    void SetFontName(const std::string& value) { fontName_ = value; }
    int FontHeight() const { return fontHeight_; }
    void SetFontHeight(int value) { fontHeight_ = value; }

    const std::vector<TControl*>& Controls() const { return controls_; }

    // The event handler that a stored definition names (e.g. "Button12Click"); an empty handler
    // when the form publishes no method of that name.
    virtual TNotifyEvent MethodAddress(const std::string& name);

    // Shows the window through the application's backend; a shown form mirrors every change.
    void Show();
    bool Showing() const { return peer_ != nullptr; }
    // Closes the window; closing the main form ends the message loop.
    void Close();
    FormPeer* Peer() const { return peer_.get(); }

  private:
    friend class TControl;
    void InsertControl(TControl& control);
    void RemoveControl(TControl& control);
    void Changed();

    std::string caption_;
    int left_ = 0;
    int top_ = 0;
    int width_ = 320;
    int height_ = 240;
    std::string color_ = "clBtnFace";
    std::string fontName_ = "MS Sans Serif";
    int fontHeight_ = -11;
    std::vector<TControl*> controls_;
    std::unique_ptr<FormPeer> peer_;
};

}  // namespace gui
