#include "app/progress_line.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace app {

ProgressLine::ProgressLine(std::ostream& terminal, bool enabled, std::chrono::milliseconds interval,
                           Clock clock)
    : terminal_(terminal), enabled_(enabled), interval_(interval), clock_(std::move(clock)) {}

std::string ProgressLine::Text(long long done, long long total, double rate) {
    std::string text = std::to_string(done) + " of " + std::to_string(total) + " records";
    if (!(rate > 0)) return text;
    text += ", " + std::to_string(std::llround(rate)) + "/s";
    if (total > done) {
        long long left = std::llround(static_cast<double>(total - done) / rate);
        char buf[48];
        std::snprintf(buf, sizeof buf, ", %lld:%02lld left", left / 60, left % 60);
        text += buf;
    }
    return text;
}

void ProgressLine::Update(long long done, long long total) {
    if (!enabled_) return;
    auto now = clock_();
    if (!started_) {
        started_ = true;
        start_ = now;
        firstDone_ = done;
    }
    bool last = done >= total;
    if (shown_ && !last && now - lastShown_ < interval_) return;
    // The rate counts the steps done since the first update, over the time since then.
    double seconds = std::chrono::duration<double>(now - start_).count();
    double rate = seconds > 0 ? static_cast<double>(done - firstDone_) / seconds : 0;
    terminal_ << '\r' << Text(done, total, rate) << "\x1b[K" << std::flush;
    shown_ = true;
    lastShown_ = now;
}

void ProgressLine::Clear() {
    if (!shown_) return;
    terminal_ << "\r\x1b[K" << std::flush;
    shown_ = false;
}

bool StandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }

}  // namespace app
