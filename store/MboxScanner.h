#pragma once

#include <cstdint>
#include <istream>
#include <string>
#include <string_view>
#include <vector>

namespace tarmig {

// Finds the separator lines of a .mbox file. The file is read in large
// blocks and searched with memchr for lines that start with "From <"; of
// such a line only its first maxLineKept bytes are kept, so a huge line is
// never held in memory. Only a line that parses as a separator ends a
// message: any other line, "From <" or not, is message text. The last block
// read is kept, as the file does not change while it is scanned.
class MboxScanner {
public:
    static constexpr std::size_t blockSize = 1 << 20;
    static constexpr std::size_t maxLineKept = 64 * 1024;

    struct Line {
        std::int64_t start = 0;  // position of the line's first byte
        std::int64_t next = 0;   // position after its LF, or the end of the file
        std::string text;        // the line without its LF, cut at maxLineKept bytes
        bool cut = false;        // the line is longer than text
    };

    // The parts of a separator line
    //   From <sender>(flags-uid) timestamp
    // as views into the line: flags are letters (maybe none), the uid is
    // digits, one blank precedes a timestamp that is not empty.
    struct Separator {
        std::string_view sender, flags, uid, timestamp;
    };
    // Whether `line` (without its LF) is a separator line; fills `fields` if so.
    static bool parseSeparator(std::string_view line, Separator& fields);

    enum Result { Found, End, ReadError };

    // The LFs not preceded by CR in the lines a search skipped, an LF as the
    // first byte searched counting as such, and where the last two of them
    // lie, so that a caller can leave out the bytes before the found line.
    // The count runs on across blocks: a message of any size needs no
    // second reading to know the size it will have.
    struct LineFeeds {
        std::int64_t bare = 0;
        std::int64_t lastBare = -1;
        std::int64_t lastButOneBare = -1;
    };

    MboxScanner();

    // Searches from `position`, which starts a line, for the next separator
    // line; a line longer than maxLineKept is never one. At End, endOfFile()
    // tells the file's length.
    Result findSeparator(std::istream& in, std::int64_t position, Line& line, LineFeeds* lineFeeds = nullptr);
    // Whether [from, to) holds a byte other than blank, tab, CR, LF, VT or FF
    // (Found) or not (End).
    Result findNonBlank(std::istream& in, std::int64_t from, std::int64_t to);
    std::int64_t endOfFile() const { return endOfFile_; }
    // The bytes [position, position + length) when the last block read holds
    // them all, else an empty view. Valid until the next search.
    std::string_view held(std::int64_t position, std::size_t length) const;

private:
    // Makes the block cover [position, position + length) as far as the file
    // has bytes there; false on a read error.
    bool ensure(std::istream& in, std::int64_t position, std::size_t length);
    bool load(std::istream& in, std::int64_t position);
    std::int64_t blockEnd() const { return blockStart_ + static_cast<std::int64_t>(blockLength_); }
    const char* at(std::int64_t position) const { return block_.data() + (position - blockStart_); }
    bool readLine(std::istream& in, std::int64_t start, Line& line);
    static void countBareLineFeed(LineFeeds& lineFeeds, std::int64_t lf);

    std::vector<char> block_;
    std::int64_t blockStart_ = 0;
    std::size_t blockLength_ = 0;
    std::int64_t endOfFile_ = -1;  // known once a read reached the end
    std::int64_t streamAt_ = -1;   // where this search left the stream, if known
};

}  // namespace tarmig
