#include "app/headless_run.h"

#include "gui/application.h"
#include "kds/kdscnnct.h"
#include "kds/kdsengine.h"
#include "rtl/edge.h"
#include "rtl/exceptions.h"

namespace app {

std::string PrintedLine(const std::string& text) { return rtl::ToOperatorText(EscapeLine(text)); }

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
                std::ostream& out, std::ostream& err, ProgressLine* progress) {
    backend.SetListener([&out, &err, progress](const gui::HeadlessEvent& event) {
        if (progress) progress->Clear();
        switch (event.kind) {
            case gui::HeadlessEvent::kMessage:
                out << "message: " << PrintedLine(event.text) << '\n' << std::flush;
                break;
            case gui::HeadlessEvent::kMemoLine:
                out << "memo: " << PrintedLine(event.text) << '\n' << std::flush;
                break;
            case gui::HeadlessEvent::kError:
                // An error box shown by a handler that goes on afterwards.
                err << "error: " << PrintedLine(event.text) << '\n' << std::flush;
                break;
        }
    });
    if (progress)
        backend.SetProgressListener(
            [progress](long long done, long long total) { progress->Update(done, total); });
    int status = 0;
    try {
        command();
    } catch (const rtl::EAbort&) {
        // The silent abort ends the command without a word, as the window's handler does.
    } catch (const std::exception& e) {
        if (progress) progress->Clear();
        err << "error: " << PrintedLine(e.what()) << '\n' << std::flush;
        status = 1;
    }
    if (progress) progress->Clear();
    backend.SetListener(nullptr);
    backend.SetProgressListener(nullptr);
    return status;
}

int RunConvert(TForm1& form, gui::HeadlessBackend& backend, const std::string& source,
               const std::string& target, std::ostream& out, std::ostream& err,
               ProgressLine* progress) {
    return RunHeadless(
        backend,
        [&] {
            form.Edit1->SetText(source);
            form.Edit2->SetText(target);
            form.Button12Click(form.Button12);
        },
        out, err, progress);
}

namespace {

struct EngineBoxTarget {
    std::ostream& err;
    ProgressLine& progress;
};

void ShowOnStream(const char* title, const char* text, void* context) {
    auto& target = *static_cast<EngineBoxTarget*>(context);
    target.progress.Clear();
    target.err << PrintedLine(std::string(title ? title : "") + ": " + (text ? text : "")) << '\n'
               << std::flush;
}

}  // namespace

void UseBackendLoginDialog() { kds::SetKdsLoginDialog(gui::ShowLoginDialog); }

int ConvertWithoutWindow(const std::string& source, const std::string& target, std::ostream& out,
                         std::ostream& err, bool progressOnErr, ConvertObserver* observer) {
    ProgressLine progress(err, progressOnErr);
    auto owned = std::make_unique<gui::HeadlessBackend>();
    gui::HeadlessBackend& backend = *owned;
    gui::Application().Initialize(std::move(owned));
    EngineBoxTarget engineBox{err, progress};
    kds::SetEngineDisplayCallback(ShowOnStream, &engineBox);
    UseBackendLoginDialog();
    int status = 1;
    try {
        TForm1 form(nullptr);
        gui::Application().SetMainForm(&form);
        form.Show();
        form.convertObserver = observer;
        status = RunConvert(form, backend, source, target, out, err, &progress);
    } catch (const std::exception& e) {
        // The window could not be created (an engine refusal of its settings).
        err << "error: " << PrintedLine(e.what()) << '\n';
    }
    kds::SetKdsLoginDialog(nullptr);
    kds::SetEngineDisplayCallback(nullptr, nullptr);
    gui::Application().Reset();
    return status;
}

}  // namespace app
