// The FLTK backend on a private X server: real windows, widgets, the modal error box and the
// message loop. Each step runs from inside the loop, as user input would.
#include "gui/fltk_backend.h"

#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "gui/application.h"
#include "gui/controls.h"
#include "gui/form.h"
#include "rtl/exceptions.h"
#include "tests/support/processes.h"
#include "tests/support/scoped.h"

// Fontconfig keeps its caches until the process ends; those blocks are not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

Fl_Widget* FindWidget(Fl_Group* group, const std::string& label) {
    for (int i = 0; i < group->children(); ++i) {
        Fl_Widget* child = group->child(i);
        if (child->label() && label == child->label()) return child;
    }
    return nullptr;
}

struct Script {
    gui::TForm* form = nullptr;
    gui::TButton* hidden = nullptr;
    gui::TEdit* edit = nullptr;
    Fl_Window* window = nullptr;
    std::string boxTitle;
    std::vector<std::string> boxLabels;
    bool clickReturned = false;
    int childrenBefore = 0, childrenAfter = 0;
    std::string editValue;
    int boxPolls = 0;
};

// Runs while the error box is up: reads it and dismisses it.
void ReadErrorBox(void* data) {
    auto* script = static_cast<Script*>(data);
    Fl_Window* box = Fl::modal();
    if (!box) {
        // Thirty seconds at most: a box that never comes up fails the test instead of hanging it.
        if (++script->boxPolls > 600) {
            ADD_FAILURE() << "the error box never came up";
            return;
        }
        Fl::repeat_timeout(0.05, ReadErrorBox, data);
        return;
    }
    script->boxTitle = box->label() ? box->label() : "";
    for (int i = 0; i < box->children(); ++i)
        if (box->child(i)->label()) script->boxLabels.push_back(box->child(i)->label());
    box->hide();
}

void PressAndGoOn(void* data) {
    auto* script = static_cast<Script*>(data);
    script->window = Fl::first_window();
    Fl_Widget* button = FindWidget(script->window, "FAIL");
    ASSERT_NE(button, nullptr);
    script->childrenBefore = script->window->children();
    Fl::add_timeout(0.05, ReadErrorBox, data);
    button->do_callback();
    script->clickReturned = true;
    // The loop is still running: later changes reach the window.
    script->hidden->SetVisible(true);
    script->edit->SetText("D:\\DATA");
    script->childrenAfter = script->window->children();
    for (int i = 0; i < script->window->children(); ++i)
        if (auto* in = dynamic_cast<Fl_Input*>(script->window->child(i)))
            script->editValue = in->value();
    script->form->Close();
}

TEST(FltkBackend, ErrorBoxShowsTheMessageAndTheLoopGoesOn) {
    if (!testsupport::OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
    testsupport::Xvfb server;
    ASSERT_FALSE(server.Display().empty()) << "Xvfb did not start";
    // The toolkit keeps its preferences under the home folder: one of the test's own.
    testsupport::ScopedTempDir home("fltk-home");
    testsupport::ScopedEnvironment env;
    env.Set("DISPLAY", server.Display());
    env.Set("HOME", home.Path().string());
    env.Set("XDG_CONFIG_HOME", (home / ".config").string());
    std::unique_ptr<gui::Backend> backend = gui::MakeFltkBackend();
    ASSERT_NE(backend, nullptr);
    gui::Application().Initialize(std::move(backend));
    {
        gui::TForm form(nullptr);
        form.SetCaption("Probe");
        auto* fail = new gui::TButton(&form);
        fail->SetCaption("FAIL");
        fail->SetTabOrder(0);
        fail->SetParent(&form);
        fail->SetOnClick([](rtl::TComponent*) { throw rtl::Exception("Table must be Active."); });
        auto* hidden = new gui::TButton(&form);
        hidden->SetCaption("HIDDEN");
        hidden->SetVisible(false);
        hidden->SetParent(&form);
        auto* edit = new gui::TEdit(&form);
        edit->SetTop(40);
        edit->SetTabOrder(1);
        edit->SetParent(&form);
        Script script;
        script.form = &form;
        script.hidden = hidden;
        script.edit = edit;
        gui::Application().SetMainForm(&form);
        form.Show();
        Fl::add_timeout(0.1, PressAndGoOn, &script);
        gui::Application().Run();

        EXPECT_TRUE(script.clickReturned);
        EXPECT_EQ(script.boxTitle, "updatebank");
        EXPECT_NE(
            std::find(script.boxLabels.begin(), script.boxLabels.end(), "Table must be Active."),
            script.boxLabels.end());
        // The hidden button had no widget until it was made visible.
        EXPECT_EQ(script.childrenBefore, 2);
        EXPECT_EQ(script.childrenAfter, 3);
        EXPECT_EQ(script.editValue, "D:\\DATA");
    }
    gui::Application().Reset();
}

}  // namespace
