#include "store/MboxScanner.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>

using tarmig::MboxScanner;

namespace {

constexpr std::int64_t block = MboxScanner::blockSize;

// All "From <" lines, found the slow way.
std::vector<MboxScanner::Line> naiveFromLines(const std::string& bytes) {
    std::vector<MboxScanner::Line> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t lf = bytes.find('\n', start);
        std::size_t end = lf == std::string::npos ? bytes.size() : lf;
        std::string text = bytes.substr(start, end - start);
        if (text.rfind("From <", 0) == 0) {
            MboxScanner::Line line;
            line.start = start;
            line.next = lf == std::string::npos ? end : end + 1;
            line.hasMarker = text.find(">(") != std::string::npos;
            line.text = text.substr(0, MboxScanner::maxLineKept);
            lines.push_back(line);
        }
        start = lf == std::string::npos ? bytes.size() : lf + 1;
    }
    return lines;
}

std::vector<MboxScanner::Line> scanAll(const std::string& bytes) {
    std::istringstream in(bytes);
    MboxScanner scanner;
    std::vector<MboxScanner::Line> lines;
    MboxScanner::Line line;
    std::int64_t position = 0;
    MboxScanner::Result result;
    while ((result = scanner.findFromLine(in, position, line)) == MboxScanner::Found) {
        lines.push_back(line);
        position = line.next;
    }
    EXPECT_EQ(MboxScanner::End, result);
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), scanner.endOfFile());
    return lines;
}

void expectSameLines(const std::string& bytes) {
    auto expected = naiveFromLines(bytes);
    auto found = scanAll(bytes);
    ASSERT_EQ(expected.size(), found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(expected[i].start, found[i].start) << i;
        EXPECT_EQ(expected[i].next, found[i].next) << i;
        EXPECT_EQ(expected[i].hasMarker, found[i].hasMarker) << i;
        EXPECT_EQ(expected[i].text, found[i].text) << i;
    }
}

// Filler up to `position`, ending with LF, so that a line starts there.
std::string fillTo(const std::string& bytes, std::int64_t position) {
    std::string out = bytes;
    out.append(position - out.size() - 1, 'x');
    return out + "\n";
}

// LFs not preceded by CR in [from, to), the byte at `from` following nothing.
MboxScanner::LineFeeds naiveLineFeeds(const std::string& bytes, std::int64_t from, std::int64_t to) {
    MboxScanner::LineFeeds feeds;
    for (std::int64_t i = from; i < to; ++i) {
        if (bytes[i] == '\n' && (i == from || bytes[i - 1] != '\r')) {
            ++feeds.bare;
            feeds.lastButOneBare = feeds.lastBare;
            feeds.lastBare = i;
        }
    }
    return feeds;
}

// One search from `from`, its line feed count checked against the naive one.
void expectCountedLineFeeds(MboxScanner& scanner, std::istream& in, const std::string& bytes,
                            std::int64_t from) {
    MboxScanner::Line line;
    MboxScanner::LineFeeds feeds;
    auto result = scanner.findFromLine(in, from, line, &feeds);
    ASSERT_NE(MboxScanner::ReadError, result);
    auto to = result == MboxScanner::Found ? line.start : static_cast<std::int64_t>(bytes.size());
    auto expected = naiveLineFeeds(bytes, from, to);
    EXPECT_EQ(expected.bare, feeds.bare) << "from " << from;
    EXPECT_EQ(expected.lastBare, feeds.lastBare) << "from " << from;
    EXPECT_EQ(expected.lastButOneBare, feeds.lastButOneBare) << "from " << from;
}

}  // namespace

TEST(MboxScanner, CountsTheBareLineFeedsOfTheLinesItSkips) {
    const std::string pieces[] = {"\n", "\r\n", "\r", "\n\n", "text", "From <a>(S-1) x\n", "From", ">("};
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        for (int n = std::uniform_int_distribution<int>(0, 40)(random); n > 0; --n) {
            bytes += pieces[std::uniform_int_distribution<std::size_t>(0, std::size(pieces) - 1)(random)];
        }
        SCOPED_TRACE(bytes);
        // Every start, at a line start or inside a line, with the scanner's
        // block kept from the searches before.
        std::istringstream in(bytes);
        MboxScanner scanner;
        for (std::int64_t from = 0; from < static_cast<std::int64_t>(bytes.size()); ++from) {
            expectCountedLineFeeds(scanner, in, bytes, from);
        }
    }
}

TEST(MboxScanner, CountsLineFeedsAcrossBlocks) {
    // Mixed line ends with a CR LF pair split by every block boundary once.
    std::string bytes;
    std::mt19937 random(5);
    while (bytes.size() < 3 * block + 100) {
        auto next = bytes.size() + std::uniform_int_distribution<std::size_t>(0, 90)(random);
        const bool crossing = next / block != bytes.size() / block;
        if (crossing) next = next / block * block - 1;  // its CR ends a block
        bytes.append(next - bytes.size(), 'b');
        bytes += crossing || random() % 3 == 0 ? "\r\n" : "\n";
        // No separator in the first block and a half, several after it.
        if (bytes.size() > block + block / 2 && random() % 1000 == 0) bytes += "From <m>(S-1) x\n";
    }
    std::istringstream in(bytes);
    MboxScanner scanner;
    MboxScanner::Line line;
    ASSERT_EQ(MboxScanner::Found, scanner.findFromLine(in, 0, line));
    EXPECT_GT(line.start, block);
    for (std::int64_t from : {std::int64_t{0}, std::int64_t{1}, block - 1, block, 2 * block - 1, 2 * block + 7}) {
        expectCountedLineFeeds(scanner, in, bytes, from);
    }
    for (std::int64_t from = 0; from < static_cast<std::int64_t>(bytes.size()); from += 99991) {
        expectCountedLineFeeds(scanner, in, bytes, from);
    }
}

TEST(MboxScanner, FindsSeparatorsAcrossBlockBoundaries) {
    for (std::int64_t shift = -8; shift <= 2; ++shift) {
        std::string bytes = fillTo("From <first>(S-1) x\n", block + shift) + "From <a>(S-2) x\nbody\n";
        SCOPED_TRACE(shift);
        expectSameLines(bytes);
    }
}

TEST(MboxScanner, MarkerAndLineEndAtBlockBoundaries) {
    std::string line = "From <" + std::string(block - 7, 's') + ">(S-1)\n";  // '>' is the block's last byte
    expectSameLines(line + "text\n" + line);
    std::string lfAtEnd = "From <" + std::string(block - 7, 's') + "\n";  // LF is the block's last byte
    expectSameLines(lfAtEnd + "From <b>(S-2) y");
}

TEST(MboxScanner, HugeLineIsCutButFullyScanned) {
    std::string huge = "From <" + std::string(3 * block, 'h') + ">(S-1) x\nFrom <next>(S-2) y\n";
    auto found = scanAll(huge);
    ASSERT_EQ(2u, found.size());
    EXPECT_EQ(MboxScanner::maxLineKept, found[0].text.size());
    EXPECT_TRUE(found[0].hasMarker);
    EXPECT_EQ(3 * block + 15, found[0].next);
    EXPECT_EQ("From <next>(S-2) y", found[1].text);
}

TEST(MboxScanner, OnlyLinesStartingWithTheExactPrefix) {
    expectSameLines(" From <a>(S-1)\nFrom<a>(S-1)\nfrom <a>(S-1)\nFrom <\nFrom <a>(S-2)\r\nFrom");
    EXPECT_TRUE(scanAll("").empty());
    EXPECT_TRUE(scanAll("\n\n").empty());
    auto found = scanAll("From <");
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(6, found[0].next);
    EXPECT_FALSE(found[0].hasMarker);
}

TEST(MboxScanner, SearchStartsAtTheGivenPosition) {
    std::string bytes = "From <a>(S-1) x\nFrom <b>(S-2) y\n";
    std::istringstream in(bytes);
    MboxScanner scanner;
    MboxScanner::Line line;
    ASSERT_EQ(MboxScanner::Found, scanner.findFromLine(in, 16, line));
    EXPECT_EQ("From <b>(S-2) y", line.text);
    // Starting inside a line skips the rest of it.
    ASSERT_EQ(MboxScanner::Found, scanner.findFromLine(in, 1, line));
    EXPECT_EQ(16, line.start);
    EXPECT_EQ(MboxScanner::End, scanner.findFromLine(in, 17, line));
}
