#include "migrator/ErrorLines.h"

#include <algorithm>
#include <utility>

namespace tarmig {

void ErrorLines::start() {
    recording_ = true;
    line_.clear();
    lines_.clear();
}

std::vector<std::string> ErrorLines::stop() {
    recording_ = false;
    line_.clear();
    return std::exchange(lines_, {});
}

ErrorLines::int_type ErrorLines::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    if (recording_) take(std::string_view(&byte, 1));
    return target_->sputc(byte);
}

std::streamsize ErrorLines::xsputn(const char* text, std::streamsize count) {
    if (recording_) take(std::string_view(text, static_cast<std::size_t>(count)));
    return target_->sputn(text, count);
}

int ErrorLines::sync() { return target_->pubsync(); }

// Only a line's first bytes decide whether it is kept, so the text of other
// lines (every message's log line among them) is looked at, not copied.
void ErrorLines::take(std::string_view text) {
    static constexpr std::string_view prefix = "Error: ";
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view part = text.substr(0, end);
        if (line_.size() < prefix.size()) {
            const std::size_t head = std::min(part.size(), prefix.size() - line_.size());
            line_.append(part.substr(0, head));
            part.remove_prefix(head);
        }
        if (line_.starts_with(prefix.substr(0, line_.size()))) line_.append(part);
        if (end == std::string_view::npos) return;
        if (line_.starts_with(prefix)) lines_.push_back(line_);
        line_.clear();
        text.remove_prefix(end + 1);
    }
}

}  // namespace tarmig
