#include "store/MboxScanner.h"

#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <sstream>
#include <stdexcept>

using tarmig::MboxScanner;

namespace {

constexpr std::int64_t block = MboxScanner::blockSize;

// A separator line as a pattern: the sender holds no ">(", letters for flags,
// digits for the uid, one blank and at least one byte of timestamp.
bool naiveIsSeparator(const std::string& text) {
    static const std::regex form(R"(From <(?:[^>]|>(?!\())*>\([A-Za-z]*-[0-9]+\) [\s\S]+)");
    return text.size() <= MboxScanner::maxLineKept && std::regex_match(text, form);
}

// All separator lines, found the slow way.
std::vector<MboxScanner::Line> naiveSeparators(const std::string& bytes) {
    std::vector<MboxScanner::Line> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t lf = bytes.find('\n', start);
        std::size_t end = lf == std::string::npos ? bytes.size() : lf;
        std::string text = bytes.substr(start, end - start);
        if (naiveIsSeparator(text)) {
            MboxScanner::Line line;
            line.start = start;
            line.next = lf == std::string::npos ? end : end + 1;
            line.text = text;
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
    while ((result = scanner.findSeparator(in, position, line)) == MboxScanner::Found) {
        lines.push_back(line);
        position = line.next;
    }
    EXPECT_EQ(MboxScanner::End, result);
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), scanner.endOfFile());
    return lines;
}

void expectSameLines(const std::string& bytes) {
    auto expected = naiveSeparators(bytes);
    auto found = scanAll(bytes);
    ASSERT_EQ(expected.size(), found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_EQ(expected[i].start, found[i].start) << i;
        EXPECT_EQ(expected[i].next, found[i].next) << i;
        EXPECT_FALSE(found[i].cut) << i;
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
    auto result = scanner.findSeparator(in, from, line, &feeds);
    ASSERT_NE(MboxScanner::ReadError, result);
    auto to = result == MboxScanner::Found ? line.start : static_cast<std::int64_t>(bytes.size());
    auto expected = naiveLineFeeds(bytes, from, to);
    EXPECT_EQ(expected.bare, feeds.bare) << "from " << from;
    EXPECT_EQ(expected.lastBare, feeds.lastBare) << "from " << from;
    EXPECT_EQ(expected.lastButOneBare, feeds.lastButOneBare) << "from " << from;
}

}  // namespace

TEST(MboxScanner, CountsTheBareLineFeedsOfTheLinesItSkips) {
    const std::string pieces[] = {"\n",    "\r\n", "\r", "\n\n", "text", "From <a>(S-1) x\n", "From <", ">(",
                                  "-1) y", "From <q@b> wrote:\r\n", "From <a>(S 1) x\n"};
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
    ASSERT_EQ(MboxScanner::Found, scanner.findSeparator(in, 0, line));
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

TEST(MboxScanner, SeparatorAndTextLinesAcrossBlockBoundaries) {
    // Every byte of a separator line, and of "From <" lines that are text,
    // at the block's end once; line feeds right after the prefix are bare.
    for (std::int64_t shift = 1; shift <= 24; ++shift) {
        SCOPED_TRACE(shift);
        std::string bytes = fillTo("", block - shift) + "From <a>(S-1) x\ntext\n";
        expectSameLines(bytes);
        bytes = fillTo("", block - shift) + "From <\nFrom <q@b> wrote:\r\nx\nFrom <a>(S-2) 20-02-2004_12:34:56_\n";
        expectSameLines(bytes);
        std::istringstream in(bytes);
        MboxScanner scanner;
        for (std::int64_t from : {std::int64_t{0}, block - shift, block - shift + 1, block - 1}) {
            expectCountedLineFeeds(scanner, in, bytes, from);
        }
    }
}

TEST(MboxScanner, LinesLongerThanTheKeptPartAreText) {
    std::string sender(MboxScanner::maxLineKept - 18, 's');
    std::string longest = "From <" + sender + ">(S-1) 12345";  // exactly maxLineKept bytes
    ASSERT_EQ(MboxScanner::maxLineKept, longest.size());
    auto found = scanAll(longest + "\n" + "From <" + sender + "s>(S-2) 12345\n");
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(longest, found[0].text);

    std::string huge = "From <" + std::string(3 * block, 'h') + ">(S-1) x\nFrom <next>(S-2) y\n";
    found = scanAll(huge);
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ("From <next>(S-2) y", found[0].text);
    EXPECT_EQ(3 * block + 15, found[0].start);
}

TEST(MboxScanner, OnlyLinesStartingWithTheExactPrefix) {
    expectSameLines(" From <a>(S-1) x\nFrom<a>(S-1) x\nfrom <a>(S-1) x\nFrom <\nFrom <a>(S-2) x\r\nFrom");
    EXPECT_TRUE(scanAll("").empty());
    EXPECT_TRUE(scanAll("\n\n").empty());
    EXPECT_TRUE(scanAll("From <").empty());
    auto found = scanAll("From <a>(-3) x");
    ASSERT_EQ(1u, found.size());
    EXPECT_EQ(14, found[0].next);
}

TEST(MboxScanner, SeparatorForm) {
    MboxScanner::Separator fields;
    ASSERT_TRUE(MboxScanner::parseSeparator("From <a@b>(SF-1042) Fri Feb 20 12:34:56 2004", fields));
    EXPECT_EQ("a@b", fields.sender);
    EXPECT_EQ("SF", fields.flags);
    EXPECT_EQ("1042", fields.uid);
    EXPECT_EQ("Fri Feb 20 12:34:56 2004", fields.timestamp);
    // The sender runs to the first ">(", and may hold ">" and blanks.
    ASSERT_TRUE(MboxScanner::parseSeparator("From <x>y z>(-7) 20-02-2004_12:34:56_\r", fields));
    EXPECT_EQ("x>y z", fields.sender);
    EXPECT_EQ("", fields.flags);
    EXPECT_EQ("7", fields.uid);
    EXPECT_EQ("20-02-2004_12:34:56_\r", fields.timestamp);
    // A timestamp the date parsing cannot use still makes a separator.
    EXPECT_TRUE(MboxScanner::parseSeparator("From <>(S-1) ?", fields));

    // Lines a message may quote, and broken forms: all message text.
    for (const char* text : {"From <joe@example.com> wrote:", "From <joe@example.com> (re-1) x",
                             "From <a>(S-1)", "From <a>(S-1) ", "From <a>(S-1)x", "From <a>(S 1) x",
                             "From <a>(S-9 x", "From <a(S-9) x", "From <a>(S-) x", "From <a>(S-1a) x",
                             "From <a>(S1-2) x", "From <a>(-7-8) x", "From a>(S-1) x", " From <a>(S-1) x",
                             "From <a>(S-1)\t x"}) {
        EXPECT_FALSE(MboxScanner::parseSeparator(text, fields)) << text;
        EXPECT_FALSE(naiveIsSeparator(text)) << text;
    }
}

TEST(MboxScanner, FindsTheFirstByteThatIsNotWhiteSpace) {
    std::string blanks = " \t\r\n\v\f";
    std::istringstream in(blanks + "x" + blanks);
    MboxScanner scanner;
    EXPECT_EQ(MboxScanner::End, scanner.findNonBlank(in, 0, 6));
    EXPECT_EQ(MboxScanner::Found, scanner.findNonBlank(in, 0, 7));
    EXPECT_EQ(MboxScanner::End, scanner.findNonBlank(in, 7, 13));
    EXPECT_EQ(MboxScanner::End, scanner.findNonBlank(in, 7, 100));  // the file ends first

    // A byte far into the file, past several blocks.
    std::string big(2 * block + 5, ' ');
    big[2 * block + 3] = '\0';
    std::istringstream bigIn(big);
    MboxScanner bigScanner;
    EXPECT_EQ(MboxScanner::End, bigScanner.findNonBlank(bigIn, 0, 2 * block + 3));
    EXPECT_EQ(MboxScanner::Found, bigScanner.findNonBlank(bigIn, 0, 2 * block + 4));
}

TEST(MboxScanner, ReadErrorIsNotTakenForTheEnd) {
    struct FailingBuffer : std::streambuf {
        int_type underflow() override { throw std::runtime_error("EIO"); }
    } buffer;
    std::istream in(&buffer);
    MboxScanner scanner;
    MboxScanner::Line line;
    EXPECT_EQ(MboxScanner::ReadError, scanner.findSeparator(in, 0, line));
    EXPECT_EQ(MboxScanner::ReadError, scanner.findNonBlank(in, 0, 10));
}

TEST(MboxScanner, SearchStartsAtTheGivenPosition) {
    std::string bytes = "From <a>(S-1) x\nFrom <b>(S-2) y\n";
    std::istringstream in(bytes);
    MboxScanner scanner;
    MboxScanner::Line line;
    ASSERT_EQ(MboxScanner::Found, scanner.findSeparator(in, 16, line));
    EXPECT_EQ("From <b>(S-2) y", line.text);
    // Starting inside a line skips the rest of it.
    ASSERT_EQ(MboxScanner::Found, scanner.findSeparator(in, 1, line));
    EXPECT_EQ(16, line.start);
    EXPECT_EQ(MboxScanner::End, scanner.findSeparator(in, 17, line));
}
