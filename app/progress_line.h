// The progress line of a batch run on a terminal: "1200 of 20000 records, 5123/s, 0:03 left",
// rewritten in place (carriage return, erase to the end of the line) at most every `interval`.
//
// The line lives only on a terminal: a run whose standard error is a pipe or a file creates the
// line disabled, and then it writes nothing at all. Any other output to the same terminal must
// call Clear() first, so that a printed line never carries a piece of the progress line.
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

namespace app {

class ProgressLine {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    ProgressLine(std::ostream& terminal, bool enabled,
                 std::chrono::milliseconds interval = std::chrono::milliseconds(200),
                 Clock clock = std::chrono::steady_clock::now);

    // `done` of `total` steps are finished. The first call starts the clock of the rate.
    void Update(long long done, long long total);
    // Takes the line off the terminal (until the next Update that shows one).
    void Clear();

    // The text of the line for `done` of `total` at `rate` steps a second (0: not known yet).
    static std::string Text(long long done, long long total, double rate);

  private:
    std::ostream& terminal_;
    bool enabled_;
    std::chrono::milliseconds interval_;
    Clock clock_;
    bool started_ = false;
    bool shown_ = false;
    long long firstDone_ = 0;
    std::chrono::steady_clock::time_point start_{}, lastShown_{};
};

// Whether standard error is a terminal.
bool StandardErrorIsTerminal();

}  // namespace app
