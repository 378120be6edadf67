#include "gui/application.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "gui/controls.h"
#include "gui/form.h"
#include "gui/headless.h"
#include "rtl/exceptions.h"

namespace {

using gui::HeadlessEvent;

class HeadlessApplication : public ::testing::Test {
  protected:
    void SetUp() override {
        auto backend = std::make_unique<gui::HeadlessBackend>();
        backend_ = backend.get();
        gui::Application().Initialize(std::move(backend));
    }
    void TearDown() override { gui::Application().Reset(); }

    gui::HeadlessBackend* backend_ = nullptr;
};

TEST_F(HeadlessApplication, MessageBoxesAreRecordedAndAnsweredAtOnce) {
    gui::ShowMessage("-DONE-");
    gui::ShowMessageBox("Kds Exception Error", "the table was not found");
    EXPECT_EQ(backend_->Events(),
              (std::vector<HeadlessEvent>{
                  {HeadlessEvent::kMessage, "updatebank", "-DONE-", ""},
                  {HeadlessEvent::kMessage, "Kds Exception Error", "the table was not found", ""},
              }));
}

TEST_F(HeadlessApplication, ExceptionLeavingAClickHandlerIsShownAndTheLoopGoesOn) {
    gui::TForm form(nullptr);
    auto* failing = new gui::TButton(&form);
    auto* silent = new gui::TButton(&form);
    auto* working = new gui::TButton(&form);
    int worked = 0;
    failing->SetOnClick([](rtl::TComponent*) { throw rtl::Exception("Table must be Active."); });
    silent->SetOnClick([](rtl::TComponent*) { rtl::Abort(); });
    working->SetOnClick([&](rtl::TComponent* sender) {
        EXPECT_EQ(sender, working);
        ++worked;
    });
    gui::Application().Dispatch([&] { failing->Click(); });
    gui::Application().Dispatch([&] { silent->Click(); });
    gui::Application().Dispatch([&] { working->Click(); });
    EXPECT_EQ(worked, 1);
    EXPECT_EQ(backend_->Events(), (std::vector<HeadlessEvent>{{HeadlessEvent::kError, "updatebank",
                                                               "Table must be Active.", ""}}));
}

TEST_F(HeadlessApplication, WaitCursorIsShownWhileBusyAndPutBack) {
    {
        gui::TWaitCursor busy;
        EXPECT_EQ(backend_->Cursor(), gui::crHourGlass);
        {
            gui::TWaitCursor query(gui::crSQLWait);
            EXPECT_EQ(gui::Screen().Cursor(), gui::crSQLWait);
        }
        EXPECT_EQ(backend_->Cursor(), gui::crHourGlass);
    }
    EXPECT_EQ(backend_->Cursor(), gui::crDefault);
    EXPECT_EQ(gui::Screen().Cursor(), gui::crDefault);
}

TEST_F(HeadlessApplication, LinesAddedToAShownMemoAreReportedInOrder) {
    gui::TForm form(nullptr);
    auto* memo = new gui::TMemo(&form);
    memo->SetName("Memo1");
    memo->SetParent(&form);
    memo->Lines().Add("Memo1");  // before the window exists: part of its first look
    form.Show();
    memo->Lines().Add("photo of 0001: file not found");
    gui::ShowMessage("between");
    memo->Lines().Add("two\r\nlines");
    memo->Lines().Clear();  // not an addition
    memo->Lines().Add("after clear");
    auto* late = new gui::TMemo(&form);
    late->SetName("Memo2");
    late->Lines().Add("brought along");
    late->SetParent(&form);
    late->SetTabOrder(3);  // a new place in the window, not new lines
    late->Lines().Add("added");
    EXPECT_EQ(backend_->Events(),
              (std::vector<HeadlessEvent>{
                  {HeadlessEvent::kMemoLine, "", "photo of 0001: file not found", "Memo1"},
                  {HeadlessEvent::kMessage, "updatebank", "between", ""},
                  {HeadlessEvent::kMemoLine, "", "two\r\nlines", "Memo1"},
                  {HeadlessEvent::kMemoLine, "", "after clear", "Memo1"},
                  {HeadlessEvent::kMemoLine, "", "added", "Memo2"},
              }));
}

TEST_F(HeadlessApplication, ControlsLeaveTheirFormWhenDestroyed) {
    auto form = std::make_unique<gui::TForm>(nullptr);
    auto* edit = new gui::TEdit(form.get());
    auto* label = new gui::TLabel(form.get());
    edit->SetParent(form.get());
    label->SetParent(form.get());
    form->Show();
    delete edit;
    ASSERT_EQ(form->Controls().size(), 1u);
    EXPECT_EQ(form->Controls()[0], label);
    // A control placed on a form that does not own it outlives the form.
    gui::TButton stray(nullptr);
    stray.SetParent(form.get());
    form.reset();
    EXPECT_EQ(stray.Parent(), nullptr);
}

TEST(Application, RefusesToShowAnythingBeforeInitialize) {
    gui::Application().Reset();
    EXPECT_THROW(gui::ShowMessage("x"), rtl::Exception);
    gui::TForm form(nullptr);
    gui::Application().SetMainForm(&form);
    EXPECT_THROW(gui::Application().Run(), rtl::Exception);
    gui::Application().Reset();
}

}  // namespace
