#include "store/Message.h"

#include <algorithm>
#include <cstring>
#include <istream>
#include <stdexcept>

#include "migrator/CGException.h"
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

Message::Message(Folder& folder) : folder_(folder) {}

void Message::initialize(std::int64_t offset, std::int64_t size, bool fixLineEnds) {
    offset_ = offset;
    size_ = size;
    fixLineEnds_ = fixLineEnds;
    fixedSize_ = 0;
    readPosition_ = offset;
    followsCr_ = false;
}

bool Message::getFirstDataPart(std::string& part) {
    readPosition_ = offset_;
    // The message's first byte follows nothing: a leading LF is bare.
    followsCr_ = false;
    return getNextDataPart(part);
}

bool Message::getNextDataPart(std::string& part) {
    part.clear();
    std::istream* in = folder_.getFileStream();
    if (!in || !*in) failRead();
    in->seekg(readPosition_);
    if (!*in) failRead();

    std::int64_t remaining = offset_ + size_ - readPosition_;
    if (remaining <= 0) return false;
    auto length = static_cast<std::size_t>(std::min<std::int64_t>(remaining, maxPartSize));

    // A file shorter than recorded ends the data early, after what it still holds.
    std::size_t count = 0;
    if (fixLineEnds_) {
        char buffer[maxPartSize];
        in->read(buffer, static_cast<std::streamsize>(length));
        count = static_cast<std::size_t>(in->gcount());
        if (count == 0) return false;
        fixCrlf(std::string_view(buffer, count), part, followsCr_);
        followsCr_ = buffer[count - 1] == '\r';
    } else {
        part.resize(length);
        in->read(part.data(), static_cast<std::streamsize>(length));
        count = static_cast<std::size_t>(in->gcount());
        part.resize(count);
        if (count == 0) return false;
    }
    readPosition_ += static_cast<std::int64_t>(count);
    return true;
}

std::int64_t Message::getFixedSize() {
    WriteLock lock(sizeLock_);
    if (fixedSize_ != 0) return fixedSize_;
    try {
        if (fixLineEnds_) {
            std::string part;
            std::int64_t total = 0;
            for (bool more = getFirstDataPart(part); more; more = getNextDataPart(part)) total += part.size();
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

int Message::fixCrlf(std::string_view in, std::string& out, bool followsCr) {
    out.clear();
    out.reserve(in.size() + in.size() / 16);
    int fixed = 0;
    std::size_t pos = 0;
    while (pos < in.size()) {
        const void* found = std::memchr(in.data() + pos, '\n', in.size() - pos);
        if (!found) {
            out.append(in.substr(pos));
            break;
        }
        auto lf = static_cast<std::size_t>(static_cast<const char*>(found) - in.data());
        out.append(in.substr(pos, lf - pos));
        bool paired = lf == 0 ? followsCr : in[lf - 1] == '\r';
        if (!paired) {
            out += '\r';
            ++fixed;
        }
        out += '\n';
        pos = lf + 1;
    }
    return fixed;
}

}  // namespace tarmig
