#include "migrator/ErrorLines.h"

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
    take(traits_type::to_char_type(c));
    return target_->sputc(traits_type::to_char_type(c));
}

std::streamsize ErrorLines::xsputn(const char* text, std::streamsize count) {
    for (std::streamsize i = 0; i < count; ++i) take(text[i]);
    return target_->sputn(text, count);
}

int ErrorLines::sync() { return target_->pubsync(); }

void ErrorLines::take(char c) {
    if (!recording_) return;
    if (c != '\n') {
        line_ += c;
        return;
    }
    if (line_.starts_with("Error: ")) lines_.push_back(line_);
    line_.clear();
}

}  // namespace tarmig
