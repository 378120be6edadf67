#include "app/progress_line.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

#include "app/headless_run.h"
#include "gui/application.h"

namespace {

using namespace std::chrono_literals;
using TimePoint = std::chrono::steady_clock::time_point;

TEST(ProgressLine, TextGivesDoneOfTotalRateAndTimeLeft) {
    struct Case {
        long long done, total;
        double rate;
        const char* text;
    };
    const Case cases[] = {
        {0, 300, 0, "0 of 300 records"},
        {50, 100, 25.0, "50 of 100 records, 25/s, 0:02 left"},
        {100, 100, 40.4, "100 of 100 records, 40/s"},
        {10, 20000, 3.0, "10 of 20000 records, 3/s, 111:03 left"},
        {0, 0, 0, "0 of 0 records"},
    };
    for (const Case& c : cases) EXPECT_EQ(app::ProgressLine::Text(c.done, c.total, c.rate), c.text);
}

TEST(ProgressLine, RewritesInPlaceAtMostOncePerIntervalAndAlwaysAtTheEnd) {
    TimePoint now{};
    std::ostringstream terminal;
    app::ProgressLine line(terminal, true, 200ms, [&] { return now; });
    line.Update(0, 4);
    now += 100ms;
    line.Update(1, 4);  // too soon: not shown
    now += 150ms;
    line.Update(2, 4);
    now += 10ms;
    line.Update(4, 4);  // the last one always
    line.Clear();
    line.Clear();  // nothing shown: nothing to clear
    EXPECT_EQ(terminal.str(),
              "\r0 of 4 records\x1b[K"
              "\r2 of 4 records, 8/s, 0:00 left\x1b[K"
              "\r4 of 4 records, 15/s\x1b[K"
              "\r\x1b[K");
}

TEST(ProgressLine, DisabledWritesNothing) {
    std::ostringstream terminal;
    app::ProgressLine line(terminal, false);
    line.Update(1, 2);
    line.Update(2, 2);
    line.Clear();
    EXPECT_EQ(terminal.str(), "");
}

// On a terminal the progress line and the printed lines share one screen: every printed line must
// start on a cleared line, and the run ends with the progress line gone.
TEST(ProgressLine, HeadlessRunClearsItBeforeEveryPrintedLine) {
    auto owned = std::make_unique<gui::HeadlessBackend>();
    gui::HeadlessBackend& backend = *owned;
    gui::Application().Initialize(std::move(owned));
    TimePoint now{};
    std::ostringstream screen;
    app::ProgressLine line(screen, true, 0ms, [&] { return now += 1s; });
    int status = app::RunHeadless(
        backend,
        [&] {
            gui::ShowProgress(1, 2);
            gui::ShowMessage("a field error");
            gui::ShowProgress(2, 2);
            throw std::runtime_error("the end");
        },
        screen, screen, &line);
    gui::Application().Reset();
    EXPECT_EQ(status, 1);
    EXPECT_EQ(screen.str(),
              "\r1 of 2 records\x1b[K\r\x1b[K"
              "message: a field error\n"
              "\r2 of 2 records, 1/s\x1b[K\r\x1b[K"
              "error: the end\n");
}

}  // namespace
