#include "store/MboxScanner.h"

#include <gtest/gtest.h>

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

}  // namespace

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
