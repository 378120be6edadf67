// The "Database Login" dialog of the FLTK backend on a private X server, shown by a dictionary
// connection that prompts: what is typed reaches the engine, Cancel raises the connection's error.
#include <FL/Fl.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Window.H>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "app/headless_run.h"
#include "dataset/db_errors.h"
#include "gui/application.h"
#include "gui/fltk_backend.h"
#include "kds/kdscnnct.h"
#include "kds/kdsengine.h"
#include "tests/support/processes.h"
#include "tests/support/scoped.h"

// Fontconfig keeps its caches until the process ends; those blocks are not ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

namespace {

namespace fs = std::filesystem;

const UNSIGNED8* U(const std::string& s) { return reinterpret_cast<const UNSIGNED8*>(s.c_str()); }

// What the script types and presses, and what it saw of the dialog.
struct Script {
    std::string user, password;
    const char* button = "&OK";
    int polls = 0;
    bool shown = false;
    std::string title, database, prefilled;
    int passwordType = 0, userLimit = 0, passwordLimit = 0;

    Script(std::string typedUser, std::string typedPassword)
        : user(std::move(typedUser)), password(std::move(typedPassword)) {}
};

Fl_Widget* Child(Fl_Window* window, const std::string& label) {
    for (int i = 0; i < window->children(); ++i) {
        Fl_Widget* child = window->child(i);
        if (child->label() && label == child->label()) return child;
    }
    return nullptr;
}

// Keystrokes as the keyboard would send them to the focused input: selecting everything first,
// so that what is typed replaces what the box held.
void Type(Fl_Input* input, const std::string& text) {
    input->take_focus();
    input->position(input->size(), 0);
    for (char c : text) {
        char key[2] = {c, 0};
        Fl::e_text = key;
        Fl::e_length = 1;
        Fl::e_keysym = static_cast<unsigned char>(c);
        Fl::e_state = 0;
        input->handle(FL_KEYBOARD);
    }
}

void Answer(void* data) {
    auto* script = static_cast<Script*>(data);
    Fl_Window* dialog = nullptr;
    for (Fl_Window* w = Fl::first_window(); w; w = Fl::next_window(w))
        if (w->label() && std::string(w->label()) == "Database Login" && w->shown()) dialog = w;
    if (!dialog) {
        // Thirty seconds at most: a dialog that never comes up fails the test instead of hanging
        // it (whatever modal window is up instead is closed, which lets the connect go on).
        if (++script->polls > 600) {
            ADD_FAILURE() << "the login dialog never came up";
            if (Fl_Window* other = Fl::modal()) other->do_callback();
            return;
        }
        Fl::repeat_timeout(0.05, Answer, data);
        return;
    }
    script->shown = true;
    script->title = dialog->label() ? dialog->label() : "";
    auto* user = dynamic_cast<Fl_Input*>(Child(dialog, "&User Name:"));
    auto* password = dynamic_cast<Fl_Input*>(Child(dialog, "&Password:"));
    Fl_Widget* databaseLabel = Child(dialog, "Database:");
    if (!user || !password || !databaseLabel) {
        ADD_FAILURE() << "the dialog lacks its boxes";
        dialog->do_callback();
        return;
    }
    // The database's name is the widget after its label.
    int at = dialog->find(databaseLabel);
    if (at + 1 < dialog->children() && dialog->child(at + 1)->label())
        script->database = dialog->child(at + 1)->label();
    script->prefilled = user->value();
    script->passwordType = password->input_type();
    script->userLimit = user->maximum_size();
    script->passwordLimit = password->maximum_size();
    Type(user, script->user);
    Type(password, script->password);
    Fl_Widget* button = Child(dialog, script->button);
    if (!button) {
        ADD_FAILURE() << "no button " << script->button;
        dialog->do_callback();
        return;
    }
    button->do_callback();
}

class LoginDialog : public ::testing::Test {
  protected:
    // One X server for the suite: the toolkit keeps its display connection for the process.
    static void SetUpTestSuite() {
        if (!testsupport::OnPath("Xvfb")) return;
        server_ = new testsupport::Xvfb();
        if (const char* outer = std::getenv("DISPLAY")) savedDisplay_ = outer;
        setenv("DISPLAY", server_->Display().c_str(), 1);
        // The toolkit keeps its preferences under the home folder: one of the suite's own.
        home_ = new testsupport::ScopedTempDir("login-home");
        environment_ = new testsupport::ScopedEnvironment();
        environment_->Set("HOME", home_->Path().string());
        environment_->Set("XDG_CONFIG_HOME", (*home_ / ".config").string());
    }
    static void TearDownTestSuite() {
        delete environment_;
        delete home_;
        delete server_;
        server_ = nullptr;
        if (savedDisplay_.empty()) {
            unsetenv("DISPLAY");
        } else {
            setenv("DISPLAY", savedDisplay_.c_str(), 1);
        }
    }

    void SetUp() override {
        if (!server_) GTEST_SKIP() << "Xvfb is not installed";
        ASSERT_FALSE(server_->Display().empty()) << "Xvfb did not start";
        started_ = true;
        std::unique_ptr<gui::Backend> backend = gui::MakeFltkBackend();
        ASSERT_NE(backend, nullptr);
        gui::Application().Initialize(std::move(backend));
        app::UseBackendLoginDialog();

        dir_ = fs::temp_directory_path() / ("updatebank-login-" + std::to_string(getpid()));
        fs::create_directories(dir_);
        dict_ = (dir_ / "SALES.kdd").string();
        ASSERT_EQ(KdsDDCreate(U(dict_)), 0u);
        ASSERT_EQ(KdsDDAddUser(U(dict_), U("clerk"), U("Plum-Tree-81")), 0u);
        connection_ = std::make_unique<kds::TKdsConnection>(nullptr);
        connection_->SetName("KdsConnection1");
        connection_->SetKdsServerTypes({kds::stKDS_LOCAL});
        connection_->SetConnectPath(dict_);
        connection_->SetLoginPrompt(true);
        connection_->SetUsername("someone");
        connection_->SetPassword("stored, never sent");
    }
    void TearDown() override {
        connection_.reset();
        kds::SetKdsLoginDialog(nullptr);
        if (started_) gui::Application().Reset();
        if (!dir_.empty()) fs::remove_all(dir_);
    }

    void Connect(Script& script) {
        Fl::add_timeout(0.05, Answer, &script);
        connection_->Connect();
    }

    static inline testsupport::Xvfb* server_ = nullptr;
    static inline std::string savedDisplay_;
    static inline testsupport::ScopedTempDir* home_ = nullptr;
    static inline testsupport::ScopedEnvironment* environment_ = nullptr;
    bool started_ = false;
    fs::path dir_;
    std::string dict_;
    std::unique_ptr<kds::TKdsConnection> connection_;
};

TEST_F(LoginDialog, WhatIsTypedReachesTheEngine) {
    Script script("clerk", "Plum-Tree-81");
    Connect(script);
    EXPECT_TRUE(connection_->IsConnected());
    EXPECT_EQ(connection_->Username(), "clerk");
    EXPECT_EQ(script.title, "Database Login");
    EXPECT_EQ(script.database, "KdsConnection1");
    EXPECT_EQ(script.prefilled, "someone");
    EXPECT_EQ(script.passwordType, FL_SECRET_INPUT);
    EXPECT_EQ(script.userLimit, 31);
    EXPECT_EQ(script.passwordLimit, 31);
}

TEST_F(LoginDialog, AWrongPasswordIsTheEnginesRefusalAndCancelIsTheConnections) {
    // Typed past the 31 characters the box takes: the password sent is cut, and wrong.
    Script tooLong("clerk", "Plum-Tree-81" + std::string(30, 'x'));
    try {
        Connect(tooLong);
        FAIL() << "connected";
    } catch (const kds::EKDSDatabaseError& e) {
        EXPECT_EQ(e.ErrorCode(), KCE_LOGIN_FAILED);
    }
    EXPECT_TRUE(tooLong.shown);
    EXPECT_FALSE(connection_->IsConnected());

    Script cancelled("clerk", "Plum-Tree-81");
    cancelled.button = "Cancel";
    try {
        Connect(cancelled);
        FAIL() << "connected";
    } catch (const kds::EKDSDatabaseError& e) {
        FAIL() << "the engine was asked: " << e.what();
    } catch (const db::EDatabaseError& e) {
        EXPECT_STREQ(e.what(), "Cannot connect to database 'KdsConnection1'");
    }
    EXPECT_TRUE(cancelled.shown);
    EXPECT_FALSE(connection_->IsConnected());
}

}  // namespace
