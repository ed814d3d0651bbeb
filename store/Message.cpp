#include "store/Message.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <stdexcept>
#include <utility>

#include "store/CGException.h"
#include "store/Folder.h"

namespace tarmig {

namespace {

[[noreturn]] void failRead() { throw CGStoreException("message cannot be read"); }

// Holds the write lock of a KMutex for one scope, released also by an exception.
class WriteLock {
public:
    explicit WriteLock(zenqa::tiny::KMutex& mutex) : mutex_(mutex) { mutex_.lockWrite(); }
    ~WriteLock() { mutex_.unlock(); }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

private:
    zenqa::tiny::KMutex& mutex_;
};

}  // namespace

Message::Message(Folder& folder) : buffer_(maxPartSize), folder_(folder) {}

void Message::initialize(std::int64_t offset, std::int64_t size, bool fixLineEnds) {
    offset_ = offset;
    size_ = size;
    fixLineEnds_ = fixLineEnds;
    fixedSize_ = 0;
    readPosition_ = offset;
    followsCr_ = false;
    separatorLine_.clear();
    separatorOffset_ = 0;
}

void Message::setSeparator(std::int64_t offset, std::string line) {
    separatorOffset_ = offset;
    separatorLine_ = std::move(line);
}

void Message::setFixedSize(std::int64_t fixedSize) {
    WriteLock lock(sizeLock_);
    fixedSize_ = fixedSize;
}

bool Message::getFirstDataPart(std::string& part) {
    readPosition_ = offset_;
    // The message's first byte follows nothing: a leading LF is bare.
    followsCr_ = false;
    return getNextDataPart(part);
}

bool Message::getNextDataPart(std::string& part) {
    part.clear();
    std::string_view raw = readRaw(readPosition_, partLength(readPosition_), buffer_.data());
    if (raw.empty()) return false;
    if (fixLineEnds_) {
        fixCrlf(raw, part, followsCr_);
        followsCr_ = raw.back() == '\r';
    } else {
        part.assign(raw);
    }
    readPosition_ += static_cast<std::int64_t>(raw.size());
    return true;
}

std::size_t Message::partLength(std::int64_t position) const {
    std::int64_t remaining = offset_ + size_ - position;
    return remaining <= 0 ? 0 : static_cast<std::size_t>(std::min<std::int64_t>(remaining, maxPartSize));
}

std::string_view Message::readRaw(std::int64_t position, std::size_t length, char* buffer) {
    // A file shorter than recorded ends the data early, after what it still
    // holds; a read error fails the message rather than send it cut short.
    std::string_view data;
    if (!folder_.readData(position, length, buffer, data)) failRead();
    return data;
}

std::int64_t Message::getFixedSize() {
    WriteLock lock(sizeLock_);
    if (fixedSize_ != 0) return fixedSize_;
    try {
        if (fixLineEnds_) {
            // The parts' bytes counted without being built: each bare LF gains a CR.
            std::int64_t total = 0;
            bool followsCr = false;
            for (std::int64_t position = offset_;;) {
                std::string_view raw = readRaw(position, partLength(position), buffer_.data());
                if (raw.empty()) break;
                total += static_cast<std::int64_t>(raw.size()) + countBareLineFeeds(raw, followsCr);
                followsCr = raw.back() == '\r';
                position += static_cast<std::int64_t>(raw.size());
            }
            fixedSize_ = total;
        } else {
            // Unfixed data are the stored bytes, as far as the file still holds them.
            fixedSize_ = size_;
            if (std::istream* in = folder_.getFileStream()) {
                in->seekg(0, std::ios::end);
                std::int64_t end = in->tellg();
                if (end >= 0) fixedSize_ = std::clamp<std::int64_t>(end - offset_, 0, size_);
            }
        }
    } catch (const std::runtime_error&) {
        failRead();
    }
    return fixedSize_;
}

std::int64_t Message::countBareLineFeeds(std::string_view in, bool followsCr) {
    std::int64_t count = 0;
    const char* data = in.data();
    const char* end = data + in.size();
    for (const char* p = data; p < end;) {
        auto* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (!lf) break;
        if (lf == data ? !followsCr : lf[-1] != '\r') ++count;
        p = lf + 1;
    }
    return count;
}

int Message::fixCrlf(std::string_view in, std::string& out, bool followsCr) {
    out.clear();
    out.reserve(in.size() + in.size() / 16);
    int fixed = 0;
    // Bytes are copied in runs up to each bare LF, so text with CR LF lines is one copy.
    std::size_t copied = 0;
    for (std::size_t pos = 0; pos < in.size();) {
        const void* found = std::memchr(in.data() + pos, '\n', in.size() - pos);
        if (!found) break;
        auto lf = static_cast<std::size_t>(static_cast<const char*>(found) - in.data());
        bool paired = lf == 0 ? followsCr : in[lf - 1] == '\r';
        if (!paired) {
            out.append(in.data() + copied, lf - copied);
            out += '\r';
            copied = lf;
            ++fixed;
        }
        pos = lf + 1;
    }
    out.append(in.data() + copied, in.size() - copied);
    return fixed;
}

}  // namespace tarmig
