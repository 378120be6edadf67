#include "app/headless_run.h"

#include "gui/application.h"
#include "kds/kce.h"
#include "rtl/exceptions.h"

namespace app {

std::string EscapeLine(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (char c : text) {
        if (c == '\r') {
            line += "\\r";
        } else if (c == '\n') {
            line += "\\n";
        } else {
            line += c;
        }
    }
    return line;
}

int RunHeadless(gui::HeadlessBackend& backend, const std::function<void()>& command,
                std::ostream& out, std::ostream& err) {
    backend.SetListener([&out, &err](const gui::HeadlessEvent& event) {
        switch (event.kind) {
            case gui::HeadlessEvent::kMessage:
                out << "message: " << EscapeLine(event.text) << '\n' << std::flush;
                break;
            case gui::HeadlessEvent::kMemoLine:
                out << "memo: " << EscapeLine(event.text) << '\n' << std::flush;
                break;
            case gui::HeadlessEvent::kError:
                // An error box shown by a handler that goes on afterwards.
                err << "error: " << EscapeLine(event.text) << '\n' << std::flush;
                break;
        }
    });
    int status = 0;
    try {
        command();
    } catch (const rtl::EAbort&) {
        // The silent abort ends the command without a word, as the window's handler does.
    } catch (const std::exception& e) {
        err << "error: " << EscapeLine(e.what()) << '\n' << std::flush;
        status = 1;
    }
    backend.SetListener(nullptr);
    return status;
}

int RunConvert(TForm1& form, gui::HeadlessBackend& backend, const std::string& source,
               const std::string& target, std::ostream& out, std::ostream& err) {
    return RunHeadless(
        backend,
        [&] {
            form.Edit1->SetText(source);
            form.Edit2->SetText(target);
            form.Button12Click(form.Button12);
        },
        out, err);
}

namespace {

void ShowOnStream(const char* title, const char* text, void* context) {
    auto& err = *static_cast<std::ostream*>(context);
    err << EscapeLine(std::string(title ? title : "") + ": " + (text ? text : "")) << '\n'
        << std::flush;
}

}  // namespace

int ConvertWithoutWindow(const std::string& source, const std::string& target, std::ostream& out,
                         std::ostream& err) {
    auto owned = std::make_unique<gui::HeadlessBackend>();
    gui::HeadlessBackend& backend = *owned;
    gui::Application().Initialize(std::move(owned));
    kds::SetEngineDisplayCallback(ShowOnStream, &err);
    int status = 1;
    try {
        TForm1 form(nullptr);
        gui::Application().SetMainForm(&form);
        form.Show();
        status = RunConvert(form, backend, source, target, out, err);
    } catch (const std::exception& e) {
        // The window could not be created (an engine refusal of its settings).
        err << "error: " << EscapeLine(e.what()) << '\n';
    }
    kds::SetEngineDisplayCallback(nullptr, nullptr);
    gui::Application().Reset();
    return status;
}

}  // namespace app
