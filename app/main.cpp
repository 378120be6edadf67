// updatebank: the main window, or one command of it run without a display.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>

#include "app/convert_audit.h"
#include "app/convert_plan.h"
#include "app/headless_run.h"
#include "app/updatebank.h"
#include "gui/application.h"
#include "gui/fltk_backend.h"
#include "gui/headless.h"
#include "kds/kdscnnct.h"
#include "kds/kdsengine.h"
#include "rtl/edge.h"
#include "rtl/paths.h"

#ifndef UPDATEBANK_VERSION
#define UPDATEBANK_VERSION "0.0.0"
#endif

namespace {

constexpr const char* kUsage =
    "usage: updatebank                          open the main window (needs a display)\n"
    "       updatebank --open SOURCE TARGET     the same with the two folder boxes filled in\n"
    "       updatebank convert SOURCE TARGET    run the CONVERT command without a window\n"
    "       updatebank convert --plan SOURCE TARGET [--json]\n"
    "                                           tell what CONVERT would do with each field;\n"
    "                                           opens both tables read-only, writes nothing\n"
    "       updatebank convert --audit FILE SOURCE TARGET\n"
    "                                           CONVERT, writing each value that did not arrive\n"
    "                                           unchanged to FILE as a JSON line\n"
    "       updatebank --help | --version\n";

// The engine's own message box: in the window, a modal message box with the engine's title.
void ShowInWindow(const char* title, const char* text, void*) {
    try {
        gui::ShowMessageBox(title ? title : "", text ? text : "");
    } catch (...) {
        // Called from inside the engine's C interface: nothing may unwind through it.
    }
}

// The main window; `folders`, when given, go into the source and target folder boxes.
int RunWindow(const std::string* source = nullptr, const std::string* target = nullptr) {
    std::unique_ptr<gui::Backend> backend = gui::MakeFltkBackend();
    if (!backend) {
        const char* display = std::getenv("DISPLAY");
        std::cerr << "updatebank: cannot open the display"
                  << (display && *display ? std::string(" '") + display + "'"
                                          : std::string(" (DISPLAY is not set)"))
                  << "; without one use: updatebank convert SOURCE TARGET\n";
        return 1;
    }
    gui::Application().Initialize(std::move(backend));
    kds::SetEngineDisplayCallback(ShowInWindow, nullptr);
    app::UseBackendLoginDialog();
    int status = 0;
    try {
        app::TForm1 form(nullptr);
        if (source) form.Edit1->SetText(*source);
        if (target) form.Edit2->SetText(*target);
        gui::Application().SetMainForm(&form);
        gui::Application().Run();
        gui::Application().SetMainForm(nullptr);
    } catch (const std::exception& e) {
        std::cerr << "updatebank: " << rtl::ToOperatorText(e.what()) << '\n';
        status = 1;
    }
    kds::SetKdsLoginDialog(nullptr);
    kds::SetEngineDisplayCallback(nullptr, nullptr);
    gui::Application().Reset();
    return status;
}

// The two folders of the command line as text of the process (the ANSI code page); a folder the
// page cannot hold is refused, naming it, rather than mangled. False when one was refused.
bool FoldersFromCommandLine(const char* source, const char* target, std::string* sourceOut,
                            std::string* targetOut) {
    const char* given[] = {source, target};
    std::string* out[] = {sourceOut, targetOut};
    const char* what[] = {"the source folder", "the target folder"};
    for (int i = 0; i < 2; ++i) {
        std::optional<std::string> ansi = rtl::FromOperatorText(given[i]);
        if (!ansi) {
            std::cerr << "updatebank: " << rtl::RefusalText(what[i], given[i]) << '\n';
            return false;
        }
        // A folder that starts at one the page cannot hold (the working folder, say).
        std::string unreachable = rtl::UnreachableBecause(*ansi);
        if (!unreachable.empty()) {
            std::cerr << "updatebank: " << what[i] << " '" << given[i] << "': " << unreachable
                      << '\n';
            return false;
        }
        *out[i] = *ansi;
    }
    return true;
}

int RunConvert(const std::string& source, const std::string& target) {
    return app::ConvertWithoutWindow(source, target, std::cout, std::cerr,
                                     app::StandardErrorIsTerminal());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 1) return RunWindow();
    std::string first = argv[1];
    if (argc == 2 && (first == "--help" || first == "-h")) {
        std::cout << kUsage;
        return 0;
    }
    if (argc == 2 && first == "--version") {
        std::string engine;
        try {
            engine = kds::EngineVersionText();
        } catch (const std::exception& e) {
            engine = e.what();
        }
        std::cout << "updatebank " UPDATEBANK_VERSION " (" << engine << ")\n";
        return 0;
    }
    if (first == "--open") {
        if (argc != 4) {
            std::cerr << "--open: expected SOURCE and TARGET (see updatebank --help)\n";
            return 2;
        }
        std::string source, target;
        if (!FoldersFromCommandLine(argv[2], argv[3], &source, &target)) return 2;
        return RunWindow(&source, &target);
    }
    if (first == "convert" && argc >= 3 && std::string(argv[2]) == "--plan") {
        bool json = argc == 6 && std::string(argv[5]) == "--json";
        if (argc != 5 && !json) {
            std::cerr
                << "convert --plan: expected SOURCE TARGET [--json] (see updatebank --help)\n";
            return 2;
        }
        std::string source, target;
        if (!FoldersFromCommandLine(argv[3], argv[4], &source, &target)) return 2;
        return app::PlanWithoutWindow(source, target, json, std::cout, std::cerr);
    }
    if (first == "convert" && argc >= 3 && std::string(argv[2]) == "--audit") {
        if (argc != 6) {
            std::cerr << "convert --audit: expected FILE SOURCE TARGET (see updatebank --help)\n";
            return 2;
        }
        std::string source, target;
        if (!FoldersFromCommandLine(argv[4], argv[5], &source, &target)) return 2;
        std::ofstream file(argv[3], std::ios::binary | std::ios::trunc);
        if (!file) {
            std::cerr << "convert --audit: cannot write '" << argv[3] << "'\n";
            return 2;
        }
        app::ConvertAudit audit(file);
        int status = app::ConvertWithoutWindow(source, target, std::cout, std::cerr,
                                               app::StandardErrorIsTerminal(), &audit);
        audit.Finish();
        return status;
    }
    if (first == "convert") {
        if (argc != 4) {
            std::cerr << "convert: expected SOURCE and TARGET (see updatebank --help)\n";
            return 2;
        }
        std::string source, target;
        if (!FoldersFromCommandLine(argv[2], argv[3], &source, &target)) return 2;
        return RunConvert(source, target);
    }
    std::cerr << "updatebank: unknown argument '" << first << "' (see updatebank --help)\n";
    return 2;
}
