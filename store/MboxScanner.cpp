#include "store/MboxScanner.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace tarmig {

namespace {
constexpr std::string_view fromPrefix = "From <";
}

MboxScanner::MboxScanner() : block_(blockSize) {}

bool MboxScanner::load(std::istream& in, std::int64_t position) {
    in.clear();
    if (position != streamAt_) {
        streamAt_ = -1;
        in.seekg(position);
        if (!in) return false;
    }
    in.read(block_.data(), static_cast<std::streamsize>(block_.size()));
    auto count = static_cast<std::size_t>(in.gcount());
    if (in.bad() || (count < block_.size() && !in.eof())) return false;
    if (count < block_.size()) endOfFile_ = position + static_cast<std::int64_t>(count);
    // Blocks read one after another need no seek in between.
    streamAt_ = count == block_.size() ? position + static_cast<std::int64_t>(count) : -1;
    in.clear();
    blockStart_ = position;
    blockLength_ = count;
    return true;
}

bool MboxScanner::ensure(std::istream& in, std::int64_t position, std::size_t length) {
    bool inBlock = position >= blockStart_ && position <= blockEnd();
    if (inBlock && position + static_cast<std::int64_t>(length) <= blockEnd()) return true;
    if (inBlock && blockEnd() == endOfFile_) return true;
    return load(in, position);
}

std::string_view MboxScanner::held(std::int64_t position, std::size_t length) const {
    if (position < blockStart_ || position + static_cast<std::int64_t>(length) > blockEnd()) return {};
    return {at(position), length};
}

MboxScanner::LineFeeds* MboxScanner::countLineFeed(LineFeeds* lineFeeds, std::int64_t searchStart,
                                                   std::int64_t lf) const {
    if (blockStart_ > searchStart) {
        lineFeeds->bare = -1;
        return nullptr;
    }
    // The block holds every byte from `searchStart` on, so the one before this LF.
    if (lf == searchStart || *at(lf - 1) != '\r') {
        ++lineFeeds->bare;
        lineFeeds->lastButOneBare = lineFeeds->lastBare;
        lineFeeds->lastBare = lf;
    }
    return lineFeeds;
}

MboxScanner::Result MboxScanner::findFromLine(std::istream& in, std::int64_t position, Line& line,
                                              LineFeeds* lineFeeds) {
    // Others read the stream between searches.
    streamAt_ = -1;
    if (lineFeeds) *lineFeeds = LineFeeds();
    LineFeeds* counting = lineFeeds;
    std::int64_t pos = position;
    for (;;) {
        if (!ensure(in, pos, fromPrefix.size())) return ReadError;
        if (pos >= blockEnd()) return End;
        if (blockEnd() - pos >= static_cast<std::int64_t>(fromPrefix.size()) &&
            std::memcmp(at(pos), fromPrefix.data(), fromPrefix.size()) == 0) {
            return readLine(in, pos, line) ? Found : ReadError;
        }
        // Not a separator: skip to the start of the next line.
        for (;;) {
            if (!ensure(in, pos, 1)) return ReadError;
            if (pos >= blockEnd()) return End;
            auto available = static_cast<std::size_t>(blockEnd() - pos);
            const void* lf = std::memchr(at(pos), '\n', available);
            if (lf) {
                pos += static_cast<const char*>(lf) - at(pos);
                if (counting) counting = countLineFeed(counting, position, pos);
                ++pos;
                break;
            }
            pos = blockEnd();
        }
    }
}

bool MboxScanner::readLine(std::istream& in, std::int64_t start, Line& line) {
    line.start = start;
    line.text.clear();
    line.hasMarker = false;
    bool endsWithGt = false;
    std::int64_t pos = start;
    for (;;) {
        if (!ensure(in, pos, 1)) return false;
        if (pos >= blockEnd()) {
            line.next = pos;
            return true;
        }
        auto available = static_cast<std::size_t>(blockEnd() - pos);
        const char* lf = static_cast<const char*>(std::memchr(at(pos), '\n', available));
        std::string_view segment(at(pos), lf ? static_cast<std::size_t>(lf - at(pos)) : available);
        if (!line.hasMarker && !segment.empty()) {
            line.hasMarker = (endsWithGt && segment.front() == '(') || segment.find(">(") != std::string_view::npos;
            endsWithGt = segment.back() == '>';
        }
        if (line.text.size() < maxLineKept) line.text.append(segment.substr(0, maxLineKept - line.text.size()));
        pos += static_cast<std::int64_t>(segment.size());
        if (lf) {
            line.next = pos + 1;
            return true;
        }
    }
}

}  // namespace tarmig
