#include "gui/fltk_backend.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Multiline_Input.H>
#include <FL/fl_ask.H>
#include <FL/x.H>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>

#include "gui/application.h"
#include "gui/controls.h"
#include "gui/fltk_login.h"
#include "gui/form.h"
#include "rtl/edge.h"

namespace gui {
namespace {

// Pixel size of the form's font: a negative height is the character height in pixels, a positive
// one a size in points (at 96 pixels per inch).
int FontSize(const TForm& form) {
    int height = form.FontHeight();
    if (height < 0) return -height;
    return height > 0 ? (height * 96 + 36) / 72 : FL_NORMAL_SIZE;
}

// FLTK speaks UTF-8, the controls the ANSI page of the process: every text crosses here.
using rtl::ToOperatorText;

// FLTK draws "@..." as a symbol; "@@" is a plain "@".
std::string LabelText(const std::string& caption) {
    std::string out;
    for (char c : ToOperatorText(caption)) {
        out += c;
        if (c == '@') out += '@';
    }
    return out;
}

std::string MemoText(const rtl::TStrings& lines) {
    std::string text;
    for (int i = 0; i < lines.Count(); ++i) {
        if (i) text += '\n';
        text += lines[i];
    }
    return ToOperatorText(text);
}

// One field of the widget dump: backslash, tab and line breaks escaped, so a field is one token.
std::string DumpField(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

void ButtonCallback(Fl_Widget*, void* data) {
    auto* button = static_cast<TButton*>(data);
    try {
        Application().Dispatch([button] { button->Click(); });
    } catch (...) {
        // Only non-standard exceptions get here; they must not unwind through FLTK.
    }
}

// The control whose widget the user is typing into: its model is being brought up to date from
// the widget, and the widget must not be rewritten meanwhile (a memo's lines change one by one,
// and rewriting the text would also move the insertion point).
TControl* typingInto = nullptr;

// An error box whose text is already the operator's UTF-8 (it may name what the page cannot hold).
void ShowOperatorError(const std::string& utf8);

// The widget's text as text of the process. A character the ANSI page cannot hold is refused:
// the widget gets back `before` (what the control holds) and an error box names the text.
std::optional<std::string> TypedText(Fl_Input* input, const std::string& before) {
    std::string typed = input->value();
    std::optional<std::string> text = rtl::FromOperatorText(typed);
    if (!text) {
        input->value(before.c_str());
        fl_beep();
        ShowOperatorError(rtl::RefusalText("The text", typed));
    }
    return text;
}

void EditCallback(Fl_Widget* widget, void* data) {
    auto* edit = static_cast<TEdit*>(data);
    std::optional<std::string> text =
        TypedText(static_cast<Fl_Input*>(widget), ToOperatorText(edit->Text()));
    if (!text) return;
    typingInto = edit;
    edit->SetText(*text);
    typingInto = nullptr;
}

void MemoCallback(Fl_Widget* widget, void* data) {
    auto* memo = static_cast<TMemo*>(data);
    std::optional<std::string> text =
        TypedText(static_cast<Fl_Input*>(widget), MemoText(memo->Lines()));
    if (!text) return;
    typingInto = memo;
    memo->Lines().SetText(*text);
    typingInto = nullptr;
}

class FltkBackend;

class FltkFormPeer : public FormPeer {
  public:
    FltkFormPeer(FltkBackend& backend, TForm& form);
    ~FltkFormPeer() override;

    void SyncForm() override {
        window_->copy_label(ToOperatorText(form_.Caption()).c_str());
        window_->resize(form_.Left(), form_.Top(), form_.Width(), form_.Height());
    }
    void SyncControl(TControl& control) override;
    void RemoveControl(TControl& control) override { DropWidget(control); }
    void Close() override { window_->hide(); }

    bool Shown() const { return window_->shown(); }
    bool Mapped() const { return window_->visible() != 0; }
    void SetCursor(TCursor cursor) {
        window_->cursor(cursor == crDefault ? FL_CURSOR_DEFAULT : FL_CURSOR_WAIT);
    }
    bool Dump(const std::string& path) const;

  private:
    Fl_Widget* MakeWidget(TControl& control);
    void DropWidget(TControl& control);
    // Keeps the window's children in tab order: FLTK moves the focus in child order.
    void Place(Fl_Widget* widget, const TControl& control);

    FltkBackend& backend_;
    TForm& form_;
    std::unique_ptr<Fl_Double_Window> window_;
    std::map<TControl*, Fl_Widget*> widgets_;
    std::map<const Fl_Widget*, TControl*> controls_;
};

class FltkBackend : public Backend {
  public:
    FltkBackend() {
        Fl::visible_focus(1);
        fl_message_font(FL_HELVETICA, 14);
    }
    std::unique_ptr<FormPeer> Realize(TForm& form) override {
        auto peer = std::make_unique<FltkFormPeer>(*this, form);
        peers_.insert(peer.get());
        return peer;
    }
    void Forget(FltkFormPeer* peer) { peers_.erase(peer); }

    void RunLoop(TForm& mainForm) override {
        auto* peer = static_cast<FltkFormPeer*>(mainForm.Peer());
        const char* dumpPath = std::getenv("UPDATEBANK_DUMP_WIDGETS");
        bool dumped = dumpPath == nullptr || *dumpPath == 0;
        while (peer && peers_.count(peer) && peer->Shown()) {
            if (Fl::wait() < 0) break;
            if (!dumped && peers_.count(peer) && peer->Mapped()) {
                Fl::flush();
                dumped = true;
                if (!peer->Dump(dumpPath))
                    std::fprintf(stderr, "updatebank: cannot write the widget tree to %s\n",
                                 dumpPath);
            }
        }
    }
    void ShowMessage(const std::string& title, const std::string& text) override {
        std::string shownTitle = ToOperatorText(title), shown = ToOperatorText(text);
        BeforeBox("message", shownTitle, shown);
        fl_message_title(shownTitle.c_str());
        fl_message("%s", shown.c_str());
    }
    void ShowError(const std::string& title, const std::string& text) override {
        ShowErrorAsIs(ToOperatorText(title), ToOperatorText(text));
    }
    void ShowErrorAsIs(const std::string& title, const std::string& text) {
        BeforeBox("error", title, text);
        fl_message_title(title.c_str());
        fl_alert("%s", text.c_str());
    }
    void SetCursor(TCursor cursor) override {
        for (FltkFormPeer* peer : peers_) peer->SetCursor(cursor);
        Fl::flush();
    }
    bool ShowLoginDialog(const std::string& databaseName, std::string& userName,
                         std::string& password) override {
        return RunFltkLoginDialog(databaseName, userName, password);
    }

  private:
    // What a test outside the process needs to follow a command: the box about to be shown is
    // appended to UPDATEBANK_LOG_BOXES, and the main window's widget tree is written again to
    // UPDATEBANK_DUMP_WIDGETS (the memo as it stands when the box comes up).
    void BeforeBox(const char* kind, const std::string& title, const std::string& text) {
        const char* logPath = std::getenv("UPDATEBANK_LOG_BOXES");
        if (logPath && *logPath) {
            std::ofstream log(logPath, std::ios::app);
            log << kind << '\t' << DumpField(title) << '\t' << DumpField(text) << '\n';
        }
        const char* dumpPath = std::getenv("UPDATEBANK_DUMP_WIDGETS");
        TForm* main = Application().MainForm();
        if (dumpPath && *dumpPath && main && main->Peer()) {
            auto* peer = static_cast<FltkFormPeer*>(main->Peer());
            if (peers_.count(peer)) peer->Dump(dumpPath);
        }
    }

    std::set<FltkFormPeer*> peers_;
};

void ShowOperatorError(const std::string& utf8) {
    static_cast<FltkBackend&>(Application().GetBackend()).ShowErrorAsIs("updatebank", utf8);
}

FltkFormPeer::FltkFormPeer(FltkBackend& backend, TForm& form) : backend_(backend), form_(form) {
    window_ =
        std::make_unique<Fl_Double_Window>(form.Left(), form.Top(), form.Width(), form.Height());
    window_->end();
    window_->copy_label(ToOperatorText(form.Caption()).c_str());
    window_->labelsize(FontSize(form_));
    for (TControl* control : form.Controls()) SyncControl(*control);
    window_->show();
}

FltkFormPeer::~FltkFormPeer() {
    backend_.Forget(this);
    window_->hide();
}

void FltkFormPeer::SyncControl(TControl& control) {
    auto found = widgets_.find(&control);
    if (!control.Visible()) {
        if (found != widgets_.end()) DropWidget(control);
        return;
    }
    Fl_Widget* widget = found != widgets_.end() ? found->second : MakeWidget(control);
    if (widget->x() != control.Left() || widget->y() != control.Top() ||
        widget->w() != control.Width() || widget->h() != control.Height()) {
        widget->resize(control.Left(), control.Top(), control.Width(), control.Height());
    }
    if (auto* label = dynamic_cast<TLabel*>(&control)) {
        widget->copy_label(LabelText(label->Caption()).c_str());
    } else if (auto* button = dynamic_cast<TButton*>(&control)) {
        widget->copy_label(LabelText(button->Caption()).c_str());
    } else if (&control == typingInto) {
        // The widget already holds what the user typed.
    } else if (auto* edit = dynamic_cast<TEdit*>(&control)) {
        auto* input = static_cast<Fl_Input*>(widget);
        std::string text = ToOperatorText(edit->Text());
        if (text != input->value()) input->value(text.c_str());
    } else if (auto* memo = dynamic_cast<TMemo*>(&control)) {
        auto* input = static_cast<Fl_Input*>(widget);
        std::string text = MemoText(memo->Lines());
        if (text != input->value()) input->value(text.c_str());
    }
    window_->redraw();
}

Fl_Widget* FltkFormPeer::MakeWidget(TControl& control) {
    int x = control.Left(), y = control.Top(), w = control.Width(), h = control.Height();
    Fl_Widget* widget = nullptr;
    if (dynamic_cast<TLabel*>(&control)) {
        auto* box = new Fl_Box(FL_NO_BOX, x, y, w, h, nullptr);
        box->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE);
        box->clear_visible_focus();
        widget = box;
    } else if (auto* button = dynamic_cast<TButton*>(&control)) {
        widget = new Fl_Button(x, y, w, h);
        widget->callback(ButtonCallback, button);
    } else if (auto* memo = dynamic_cast<TMemo*>(&control)) {
        auto* input = new Fl_Multiline_Input(x, y, w, h);
        input->textsize(FontSize(form_));
        input->when(FL_WHEN_CHANGED);
        input->callback(MemoCallback, memo);
        widget = input;
    } else if (auto* edit = dynamic_cast<TEdit*>(&control)) {
        auto* input = new Fl_Input(x, y, w, h);
        input->textsize(FontSize(form_));
        input->when(FL_WHEN_CHANGED);
        input->callback(EditCallback, edit);
        widget = input;
    } else {
        widget = new Fl_Box(FL_NO_BOX, x, y, w, h, nullptr);
    }
    widget->labelsize(FontSize(form_));
    Place(widget, control);
    widgets_[&control] = widget;
    controls_[widget] = &control;
    return widget;
}

void FltkFormPeer::Place(Fl_Widget* widget, const TControl& control) {
    int index = 0;
    for (; index < window_->children(); ++index) {
        auto other = controls_.find(window_->child(index));
        if (other != controls_.end() && other->second->TabOrder() > control.TabOrder()) break;
    }
    window_->insert(*widget, index);
}

void FltkFormPeer::DropWidget(TControl& control) {
    auto found = widgets_.find(&control);
    if (found == widgets_.end()) return;
    Fl_Widget* widget = found->second;
    widgets_.erase(found);
    controls_.erase(widget);
    window_->remove(widget);
    widget->callback(static_cast<Fl_Callback*>(nullptr), nullptr);
    // A widget may be dropped from inside its own callback; FLTK deletes it when that returns.
    Fl::delete_widget(widget);
    window_->redraw();
}

bool FltkFormPeer::Dump(const std::string& path) const {
    std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::trunc);
        if (!out) return false;
        out << "window\t" << DumpField(window_->label() ? window_->label() : "") << '\t'
            << window_->x() << '\t' << window_->y() << '\t' << window_->w() << '\t' << window_->h()
            << '\n';
        for (int i = 0; i < window_->children(); ++i) {
            Fl_Widget* widget = window_->child(i);
            auto control = controls_.find(widget);
            std::string name = control != controls_.end() ? control->second->Name() : "";
            std::string kind = "other", text;
            if (auto* memo = dynamic_cast<Fl_Multiline_Input*>(widget)) {
                kind = "memo";
                text = memo->value();
            } else if (auto* input = dynamic_cast<Fl_Input*>(widget)) {
                kind = "edit";
                text = input->value();
            } else if (dynamic_cast<Fl_Button*>(widget)) {
                kind = "button";
                text = widget->label() ? widget->label() : "";
            } else if (dynamic_cast<Fl_Box*>(widget)) {
                kind = "label";
                text = widget->label() ? widget->label() : "";
            }
            bool focusable = widget->visible_focus() && widget->active() && widget->visible();
            out << kind << '\t' << DumpField(name) << '\t' << widget->x() << '\t' << widget->y()
                << '\t' << widget->w() << '\t' << widget->h() << '\t' << (widget->visible() ? 1 : 0)
                << '\t' << (focusable ? 1 : 0) << '\t' << DumpField(text) << '\n';
        }
        if (!out.flush()) return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace

std::unique_ptr<Backend> MakeFltkBackend() {
    // FLTK ends the process when it cannot open the display itself; asking first lets the
    // program say what is wrong.
    Display* display = XOpenDisplay(nullptr);
    if (!display) return nullptr;
    fl_open_display(display);
    return std::make_unique<FltkBackend>();
}

}  // namespace gui
