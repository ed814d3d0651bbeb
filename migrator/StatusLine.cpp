#include "migrator/StatusLine.h"

#include <cstdio>

#include "migrator/AccountLine.h"

namespace tarmig {

namespace {

// Back to the start of the line and clear it (ANSI erase to end of line).
constexpr std::string_view eraseLine = "\r\033[K";

std::string durationText(double seconds) {
    const auto total = static_cast<long long>(seconds + 0.5);
    char text[48];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60);
    return text;
}

}  // namespace

StatusLine::StatusLine(std::ostream& console, const RunProgress& progress, unsigned width)
    : console_(console), progress_(progress), width_(width) {}

StatusLine::~StatusLine() { stop(); }

void StatusLine::start() {
    ticker_ = std::jthread([this](std::stop_token stopping) {
        std::unique_lock lock(mutex_);
        while (!stopping.stop_requested()) {
            if (!wake_.wait_for(lock, stopping, redrawInterval, [] { return false; })) {
                if (!stopped_) draw(Clock::now());
            }
        }
    });
}

void StatusLine::stop() {
    if (ticker_.joinable()) {
        ticker_.request_stop();
        ticker_.join();
    }
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
    erase();
    console_ << pending_ << std::flush;
    pending_.clear();
}

void StatusLine::write(std::string_view text) {
    std::lock_guard lock(mutex_);
    if (stopped_) {
        console_ << text << std::flush;
        return;
    }
    pending_.append(text);
    const std::size_t end = pending_.rfind('\n');
    if (end == std::string::npos) return;
    erase();
    console_.write(pending_.data(), static_cast<std::streamsize>(end + 1));
    pending_.erase(0, end + 1);
    draw(Clock::now());
}

void StatusLine::refresh(Clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (!stopped_ && now - lastDraw_ >= redrawInterval) draw(now);
}

void StatusLine::draw(Clock::time_point now) {
    const RunProgress::Snapshot snapshot = progress_.snapshot();
    std::string text = render(snapshot, rate(now, snapshot.bytes));
    if (width_ > 1 && text.size() > width_ - 1) text.resize(width_ - 1);
    console_ << eraseLine << text << std::flush;
    shown_ = true;
    lastDraw_ = now;
}

void StatusLine::erase() {
    if (!shown_) return;
    console_ << eraseLine;
    shown_ = false;
}

std::optional<double> StatusLine::rate(Clock::time_point now, std::int64_t bytes) {
    samples_.emplace_back(now, bytes);
    while (samples_.size() > 2 && now - samples_[1].first >= rateSpan) samples_.pop_front();
    const auto& [since, sent] = samples_.front();
    const double seconds = std::chrono::duration<double>(now - since).count();
    if (seconds < 1.0) return std::nullopt;
    return static_cast<double>(bytes - sent) / seconds;
}

std::string StatusLine::render(const RunProgress::Snapshot& now, std::optional<double> bytesPerSecond) {
    // Messages found on the target are done, but only sent bytes make the rate.
    const std::int64_t done = now.bytes + now.bytesPresent;
    std::string text = "accounts " + std::to_string(now.accountsDone) + "/" + std::to_string(now.accountsTotal) +
                       ", messages " + std::to_string(now.messages) + ", " + formatSize(done) + " of " +
                       (now.totalBytes ? formatSize(*now.totalBytes) : std::string("unknown"));
    text += bytesPerSecond ? ", " + formatSize(static_cast<std::int64_t>(*bytesPerSecond)) + "/s" : ", rate unknown";
    text += ", ETA ";
    if (!now.totalBytes || !bytesPerSecond || *bytesPerSecond <= 0) {
        // Without a total or a rate there is nothing to divide.
        text += now.totalBytes && *now.totalBytes <= done ? durationText(0) : "unknown";
    } else {
        const double left = static_cast<double>(*now.totalBytes - done);
        text += durationText(left > 0 ? left / *bytesPerSecond : 0);
    }
    return text;
}

}  // namespace tarmig
