#include "app/headless_run.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "gui/application.h"
#include "rtl/exceptions.h"
#include "rtl/formatsettings.h"
#include "tests/support/scoped.h"

namespace {

// Drive C and the home folder point into a folder of the test's own: a run that makes its
// temporary folder makes it there.
struct OwnDriveC {
    OwnDriveC() {
        env.Set("HOME", (dir / "home").string());
        env.Unset("XDG_DATA_HOME");
        env.Set("UPDATEBANK_DRIVE_C", (dir / "drive_c").string());
    }
    testsupport::ScopedTempDir dir{"headless-run"};
    testsupport::ScopedEnvironment env;
};

class HeadlessRun : public ::testing::Test {
  protected:
    void SetUp() override {
        auto backend = std::make_unique<gui::HeadlessBackend>();
        backend_ = backend.get();
        gui::Application().Initialize(std::move(backend));
        form_ = std::make_unique<app::TForm1>(nullptr);
        form_->Show();
    }
    void TearDown() override {
        form_.reset();
        gui::Application().Reset();
        rtl::SetFormatSettings(saved_);
    }

    OwnDriveC drive_;
    rtl::TFormatSettings saved_ = rtl::FormatSettings();
    gui::HeadlessBackend* backend_ = nullptr;
    std::unique_ptr<app::TForm1> form_;
    std::ostringstream out_, err_;
};

TEST_F(HeadlessRun, PrintsMessagesAndMemoLinesInOrderWithLineBreaksEscaped) {
    int status = app::RunHeadless(
        *backend_,
        [&] {
            gui::ShowMessage("Field \"BIRTH\\DATE\":\r\nnot a date");
            form_->Memo1->Lines().Add("photo of 0001:\nnot found");
            gui::ShowMessage("-DONE-");
        },
        out_, err_);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out_.str(),
              "message: Field \"BIRTH\\DATE\":\\r\\nnot a date\n"
              "memo: photo of 0001:\\nnot found\n"
              "message: -DONE-\n");
    EXPECT_EQ(err_.str(), "");
}

TEST_F(HeadlessRun, AnErrorThatEndsTheCommandIsOneLineOnStandardError) {
    int status = app::RunHeadless(
        *backend_,
        [&] {
            gui::ShowMessage("first");
            throw rtl::Exception("KdsTable2: the table was not found\r\nEMPLOYEE");
        },
        out_, err_);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out_.str(), "message: first\n");
    EXPECT_EQ(err_.str(), "error: KdsTable2: the table was not found\\r\\nEMPLOYEE\n");
    // Nothing printed after the run ends.
    gui::ShowMessage("later");
    EXPECT_EQ(out_.str(), "message: first\n");
}

TEST_F(HeadlessRun, ConvertPutsTheFoldersIntoTheBoxesExactlyAsGiven) {
    // Folders without tables: the command ends at opening the source.
    const std::string target = (drive_.dir / "target dir").string();
    int status = app::RunConvert(*form_, *backend_, "C:\\Data\\Src ", target, out_, err_);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(form_->Edit1->Text(), "C:\\Data\\Src ");
    EXPECT_EQ(form_->Edit2->Text(), target);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(err_.str().rfind("error: ", 0), 0u) << err_.str();
}

TEST(ConvertWithoutWindow, BuildsTheWindowHeadlessAndRunsTheCommand) {
    OwnDriveC drive;
    rtl::TFormatSettings saved = rtl::FormatSettings();
    std::ostringstream out, err;
    EXPECT_EQ(app::ConvertWithoutWindow("/nonexistent/source", "/nonexistent/target", out, err), 1);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str().rfind("error: ", 0), 0u) << err.str();
    EXPECT_FALSE(gui::Application().Initialized());
    EXPECT_EQ(kds::TKdsSettings::InstanceCount(), 0);
    rtl::SetFormatSettings(saved);
}

}  // namespace
