#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>

#include "migrator/RunProgress.h"

namespace tarmig {

// The last line of a terminal, kept showing how far the run is: accounts,
// messages, bytes, the current rate and the time still to go. Console text
// goes through write() and appears above it, a whole line at a time, so the
// two never mix on one line. Only for terminals: it moves the cursor.
class StatusLine {
public:
    using Clock = std::chrono::steady_clock;
    // How often the line may be drawn, and the span the rate is measured over.
    static constexpr Clock::duration redrawInterval = std::chrono::milliseconds(250);
    static constexpr Clock::duration rateSpan = std::chrono::seconds(10);

    // width is the terminal's columns; the line is cut short of the last one
    // so that it never wraps (a wrapped line cannot be redrawn in place).
    StatusLine(std::ostream& console, const RunProgress& progress, unsigned width);
    ~StatusLine();
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    // Redraws the line a few times a second from a thread of its own, so it
    // moves while one large message is sent.
    void start();
    // Erases the line for good; later text is written as it comes.
    void stop();
    // Console text; a line without its end waits for the rest.
    void write(std::string_view text);
    // Draws the line unless it was drawn less than redrawInterval ago.
    void refresh(Clock::time_point now);

    // The line's text for a moment of the run; bytesPerSecond is none until
    // there is something to measure it over.
    static std::string render(const RunProgress::Snapshot& now, std::optional<double> bytesPerSecond);

private:
    void draw(Clock::time_point now);
    void erase();
    std::optional<double> rate(Clock::time_point now, std::int64_t bytes);

    std::ostream& console_;
    const RunProgress& progress_;
    unsigned width_;
    std::mutex mutex_;
    std::condition_variable_any wake_;
    std::jthread ticker_;
    std::string pending_;  // console text after its last line end
    bool shown_ = false;
    bool stopped_ = false;
    Clock::time_point lastDraw_{};
    // Bytes sent as seen at each draw, oldest first, within rateSpan.
    std::deque<std::pair<Clock::time_point, std::int64_t>> samples_;
};

}  // namespace tarmig
