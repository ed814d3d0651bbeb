#include "store/MboxScanner.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace tarmig {

namespace {

constexpr std::string_view fromPrefix = "From <";

bool allOf(std::string_view text, bool (*test)(char)) {
    for (char c : text) {
        if (!test(c)) return false;
    }
    return true;
}

bool isLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

bool MboxScanner::parseSeparator(std::string_view line, Separator& fields) {
    constexpr auto npos = std::string_view::npos;
    if (!line.starts_with(fromPrefix)) return false;
    const auto senderEnd = line.find(">(", fromPrefix.size());
    if (senderEnd == npos) return false;
    const auto dash = line.find('-', senderEnd + 2);
    if (dash == npos) return false;
    const auto close = line.find(')', dash + 1);
    if (close == npos || close + 2 >= line.size() || line[close + 1] != ' ') return false;
    std::string_view flags = line.substr(senderEnd + 2, dash - senderEnd - 2);
    std::string_view uid = line.substr(dash + 1, close - dash - 1);
    if (!allOf(flags, isLetter) || uid.empty() || !allOf(uid, isDigit)) return false;
    fields.sender = line.substr(fromPrefix.size(), senderEnd - fromPrefix.size());
    fields.flags = flags;
    fields.uid = uid;
    fields.timestamp = line.substr(close + 2);
    return true;
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

MboxScanner::Result MboxScanner::findNonBlank(std::istream& in, std::int64_t from, std::int64_t to) {
    streamAt_ = -1;
    for (std::int64_t pos = from; pos < to;) {
        if (!ensure(in, pos, static_cast<std::size_t>(to - pos))) return ReadError;
        if (pos >= blockEnd()) return End;
        const std::int64_t end = std::min(to, blockEnd());
        if (!allOf(std::string_view(at(pos), static_cast<std::size_t>(end - pos)), isBlank)) return Found;
        pos = end;
    }
    return End;
}

MboxScanner::Result MboxScanner::findSeparator(std::istream& in, std::int64_t position, Line& line,
                                               LineFeeds* lineFeeds) {
    // Others read the stream between searches.
    streamAt_ = -1;
    if (lineFeeds) *lineFeeds = LineFeeds();
    std::int64_t pos = position;
    bool atLineStart = true;
    // The byte before `pos`, kept for a line feed that starts a block read later.
    char byteBefore = '\0';
    for (;;) {
        std::int64_t resumed = -1;
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
                    const std::int64_t start = blockStart_ + (p - block_.data());
                    if (!readLine(in, start, line)) return ReadError;
                    Separator fields;
                    if (!line.cut && parseSeparator(line.text, fields)) return Found;
                    // Message text: the search goes on after the prefix, whose
                    // last byte is no CR. Reading the line may have moved the block.
                    resumed = start + static_cast<std::int64_t>(fromPrefix.size());
                    break;
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
        if (resumed >= 0) {
            pos = resumed;
            atLineStart = false;
            byteBefore = '<';
        } else {
            pos = blockStart_ + (p - block_.data());
        }
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
    line.cut = false;
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
        const std::size_t room = maxLineKept - line.text.size();
        if (segment.size() > room) line.cut = true;
        line.text.append(segment.substr(0, room));
        pos += static_cast<std::int64_t>(segment.size());
        if (lf) {
            line.next = pos + 1;
            return true;
        }
    }
}

}  // namespace tarmig
