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

MboxScanner::Result MboxScanner::findFromLine(std::istream& in, std::int64_t position, Line& line,
                                              LineFeeds* lineFeeds) {
    // Others read the stream between searches.
    streamAt_ = -1;
    if (lineFeeds) *lineFeeds = LineFeeds();
    std::int64_t pos = position;
    bool atLineStart = true;
    // The byte before `pos`, kept for a line feed that starts a block read later.
    char byteBefore = '\0';
    for (;;) {
        if (pos > blockStart_ && pos <= blockEnd()) byteBefore = *at(pos - 1);
        if (!ensure(in, pos, atLineStart ? fromPrefix.size() : 1)) return ReadError;
        if (pos >= blockEnd()) return End;
        const char* p = at(pos);
        const char* end = at(blockEnd());
        for (;;) {
            if (atLineStart) {
                const auto left = static_cast<std::size_t>(end - p);
                // A line start too near the block's end is decided after a refill.
                if (left < fromPrefix.size() && blockEnd() != endOfFile_) break;
                if (left >= fromPrefix.size() && std::memcmp(p, fromPrefix.data(), fromPrefix.size()) == 0) {
                    return readLine(in, blockStart_ + (p - block_.data()), line) ? Found : ReadError;
                }
            }
            const char* lf = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
            if (!lf) {
                p = end;
                atLineStart = false;
                break;
            }
            if (lineFeeds) {
                const std::int64_t lfPosition = blockStart_ + (lf - block_.data());
                const char before = lf == block_.data() ? byteBefore : lf[-1];
                if (lfPosition == position || before != '\r') countBareLineFeed(*lineFeeds, lfPosition);
            }
            p = lf + 1;
            atLineStart = true;
        }
        pos = blockStart_ + (p - block_.data());
    }
}

void MboxScanner::countBareLineFeed(LineFeeds& lineFeeds, std::int64_t lf) {
    ++lineFeeds.bare;
    lineFeeds.lastButOneBare = lineFeeds.lastBare;
    lineFeeds.lastBare = lf;
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
