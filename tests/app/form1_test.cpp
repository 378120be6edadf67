#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/updatebank.h"
#include "engine/kce.h"
#include "gui/application.h"
#include "gui/headless.h"
#include "rtl/formatsettings.h"

namespace {

std::string EngineDateFormat() {
    UNSIGNED8 buf[32];
    UNSIGNED16 len = sizeof buf;
    EXPECT_EQ(KdsGetDateFormat(buf, &len), 0u);
    return std::string(reinterpret_cast<char*>(buf), len);
}

UNSIGNED16 EngineValue(KCESTATUS (*get)(UNSIGNED16*)) {
    UNSIGNED16 value = 0;
    EXPECT_EQ(get(&value), 0u);
    return value;
}

class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        auto backend = std::make_unique<gui::HeadlessBackend>();
        backend_ = backend.get();
        gui::Application().Initialize(std::move(backend));
        // Start-up from a process whose date settings differ from the program's own.
        rtl::TFormatSettings start = rtl::FormatSettings();
        start.ShortDateFormat = "dd.MM.yyyy";
        start.DateSeparator = '.';
        rtl::SetFormatSettings(start);
        ASSERT_EQ(KdsSetDecimals(5), 0u);
        ASSERT_EQ(KdsShowDeleted(0), 0u);
        ASSERT_EQ(KdsSetServerType(1), 0u);
        ASSERT_EQ(KdsCacheOpenCursors(3), 0u);
    }
    void TearDown() override {
        gui::Application().Reset();
        rtl::SetFormatSettings(saved_);
    }

    gui::HeadlessBackend* backend_ = nullptr;
    rtl::TFormatSettings saved_ = rtl::FormatSettings();
};

TEST_F(MainWindow, StartUpAppliesTheStoredEngineSettings) {
    app::TForm1 form(nullptr);
    EXPECT_EQ(EngineDateFormat(), "MM/dd/ccyy");
    EXPECT_EQ(rtl::ShortDateFormat(), "MM/dd/yyyy");
    EXPECT_EQ(rtl::DateSeparator(), '/');
    EXPECT_EQ(EngineValue(KdsGetDecimals), 2);
    EXPECT_EQ(EngineValue(KdsGetDeleted), 1);
    EXPECT_EQ(EngineValue(KdsGetServerType), 7);
    EXPECT_EQ(EngineValue(KdsGetCacheOpenCursors), 25);
    EXPECT_EQ(EngineValue(KdsGetNumOpenTables), 0);
    EXPECT_FALSE(form.KdsSettings1->IsLoading());
    EXPECT_EQ(form.KdsSettings1->Owner(), &form);
}

TEST_F(MainWindow, ControlsFollowTheStoredDefinition) {
    app::TForm1 form(nullptr);
    EXPECT_EQ(form.Name(), "Form1");
    EXPECT_EQ(form.Caption(), "Form1");
    EXPECT_EQ(std::vector<int>({form.Left(), form.Top(), form.Width(), form.Height()}),
              std::vector<int>({328, 200, 696, 480}));

    struct Expected {
        const char* name;
        int left, top, width, height;
        const char* text;  // caption, or the text of an edit
        int tabOrder;
        bool visible;
    };
    const Expected expected[] = {
        {"Label1", 93, 156, 91, 13, "SOURCE FOLDER", -1, true},
        {"Label2", 97, 188, 87, 13, "TARGETFOLDER", -1, true},
        {"Button1", 280, 8, 75, 25, "QX5 TO QX8", 0, false},
        {"Button2", 456, 48, 75, 25, "Button1", 1, false},
        {"Button3", 552, 40, 75, 25, "Button3", 2, false},
        {"Button4", 184, 8, 75, 25, "Button4", 3, false},
        {"Button5", 552, 8, 75, 25, "Button5", 4, false},
        {"Button6", 280, 40, 75, 25, "QX8 TO QX8", 5, false},
        {"Button7", 384, 8, 75, 25, "QX8 TO QX5", 6, false},
        {"Button8", 176, 48, 75, 25, "Button8", 7, false},
        {"Button9", 328, 80, 75, 25, "CAREER", 8, false},
        {"Button10", 368, 40, 75, 25, "QX5 TO QX5", 9, false},
        {"Button11", 512, 80, 113, 25, "COPY OUTGL_D", 10, false},
        {"Button12", 216, 216, 75, 25, "CONVERT", 11, true},
        {"Edit1", 209, 152, 409, 21, "C:\\TEMP", 12, true},
        {"Edit2", 208, 184, 409, 21, "C:\\TEMP", 13, true},
        {"Memo1", 56, 248, 617, 169, "", 14, true},
        {"Button13", 304, 216, 75, 25, "Button13", 15, false},
    };
    ASSERT_EQ(form.ComponentCount(), 27);
    for (int i = 0; i < 18; ++i) {
        const Expected& e = expected[i];
        SCOPED_TRACE(e.name);
        auto* control = dynamic_cast<gui::TControl*>(form.Components(i));
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->Name(), e.name);
        EXPECT_EQ(control->Parent(), &form);
        EXPECT_EQ(std::vector<int>(
                      {control->Left(), control->Top(), control->Width(), control->Height()}),
                  std::vector<int>({e.left, e.top, e.width, e.height}));
        EXPECT_EQ(control->TabOrder(), e.tabOrder);
        EXPECT_EQ(control->Visible(), e.visible);
        std::string text;
        if (auto* label = dynamic_cast<gui::TLabel*>(control)) text = label->Caption();
        if (auto* button = dynamic_cast<gui::TButton*>(control)) {
            text = button->Caption();
            EXPECT_TRUE(button->OnClick()) << "no click handler";
        }
        if (auto* edit = dynamic_cast<gui::TEdit*>(control)) text = edit->Text();
        EXPECT_EQ(text, e.text);
    }
    EXPECT_EQ(form.Components(26), form.KdsSettings1);
    ASSERT_EQ(form.Memo1->Lines().Count(), 1);
    EXPECT_EQ(form.Memo1->Lines()[0], "Memo1");
}

// Button12 is CONVERT, tested on its own; the hidden buttons' handlers do nothing yet.
TEST_F(MainWindow, HiddenButtonsRunTheirOwnHandlersWhichDoNothingYet) {
    app::TForm1 form(nullptr);
    form.Show();
    gui::TButton* buttons[] = {form.Button1, form.Button2,  form.Button3,  form.Button4,
                               form.Button5, form.Button6,  form.Button7,  form.Button8,
                               form.Button9, form.Button10, form.Button11, form.Button13};
    for (gui::TButton* button : buttons) {
        gui::Application().Dispatch([button] { button->Click(); });
    }
    EXPECT_TRUE(backend_->Events().empty());
    EXPECT_EQ(form.Memo1->Lines().Count(), 1);
    EXPECT_EQ(EngineValue(KdsGetNumOpenTables), 0);
}

TEST_F(MainWindow, ASecondWindowIsRefusedWhileTheFirstLives) {
    auto first = std::make_unique<app::TForm1>(nullptr);
    try {
        app::TForm1 second(nullptr);
        ADD_FAILURE() << "a second settings component was created";
    } catch (const rtl::Exception& e) {
        EXPECT_STREQ(e.what(), "Only one KdsSettings component is allowed per application");
    }
    first.reset();
    EXPECT_EQ(kds::TKdsSettings::InstanceCount(), 0);
    app::TForm1 again(nullptr);
    EXPECT_EQ(kds::TKdsSettings::InstanceCount(), 1);
}

}  // namespace
