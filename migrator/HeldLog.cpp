#include "migrator/HeldLog.h"

namespace tarmig {

HeldLog::~HeldLog() {
    if (file_ != nullptr) std::fclose(file_);
}

HeldLog::int_type HeldLog::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char byte = traits_type::to_char_type(c);
    xsputn(&byte, 1);
    return c;
}

std::streamsize HeldLog::xsputn(const char* text, std::streamsize count) {
    const auto size = static_cast<std::size_t>(count);
    if (file_ == nullptr || fileFull_) {
        memory_.append(text, size);
        if (file_ == nullptr && memory_.size() > limit_) spill();
        return count;
    }
    const std::size_t written = std::fwrite(text, 1, size, file_);
    if (written != size) {
        // A full disk: what follows stays in memory, after the file's text.
        fileFull_ = true;
        memory_.append(text + written, size - written);
    }
    return count;
}

void HeldLog::spill() {
    file_ = std::tmpfile();
    if (file_ == nullptr) {
        limit_ = static_cast<std::size_t>(-1);
        return;
    }
    const std::size_t written = std::fwrite(memory_.data(), 1, memory_.size(), file_);
    memory_.erase(0, written);
    if (!memory_.empty()) {
        fileFull_ = true;
        return;
    }
    memory_.shrink_to_fit();
}

void HeldLog::moveTo(std::streambuf& target) {
    if (file_ != nullptr) {
        std::rewind(file_);
        char chunk[65536];
        for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file_)) > 0;)
            target.sputn(chunk, static_cast<std::streamsize>(n));
        std::fclose(file_);
        file_ = nullptr;
        fileFull_ = false;
    }
    target.sputn(memory_.data(), static_cast<std::streamsize>(memory_.size()));
    memory_.clear();
}

}  // namespace tarmig
