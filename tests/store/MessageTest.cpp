#include "store/Message.h"

#include <gtest/gtest.h>

#include <sstream>

#include "ErrorText.h"
#include "MessageReading.h"
#include "store/CGException.h"
#include "support/StoreBuilder.h"

using namespace tarmig;
using namespace tarmig::testing;

namespace {

constexpr std::size_t partSize = Message::maxPartSize;

std::string fixed(const std::string& in, bool followsCr = false, int* count = nullptr) {
    std::string out = "stale";
    int n = Message::fixCrlf(in, out, followsCr);
    if (count) *count = n;
    return out;
}

// One message stored in a .mbox folder, opened and positioned on that message.
class StoredMessage : public ::testing::Test {
protected:
    TempDir tmp;
    std::ostringstream output;
    Folder folder{output};
    Message message{folder};

    void store(const std::string& data, bool fixLineEnds = true) {
        MboxMessage m;
        m.data = data;
        writeFile(tmp.path() + "/Mail.mbox", "junk before\n" + mboxText({m}) + "\r\n" + separatorLine(m) + "\nafter");
        folder.initialize("Mail", tmp.path(), MailboxMacnt);
        folder.openMessagesFile("ann");
        ASSERT_TRUE(folder.getFirstMessage(message, fixLineEnds));
        ASSERT_EQ(static_cast<std::int64_t>(data.size()), message.getSize());
    }

    void TearDown() override { folder.closeMessagesFile(); }
};

}  // namespace

TEST(MessageFixCrlf, BareLineFeedsBecomeCrLf) {
    int count = -1;
    EXPECT_EQ("x\r\ny\r\nz", fixed("x\ny\r\nz", false, &count));
    EXPECT_EQ(1, count);
    EXPECT_EQ("x\ry", fixed("x\ry", false, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ("", fixed("", false, &count));
    EXPECT_EQ(0, count);
    EXPECT_EQ("\r\n\r\n\r\n", fixed("\n\n\n", false, &count));
    EXPECT_EQ(3, count);
    EXPECT_EQ("\r\r\n\r\n", fixed("\r\r\n\n", false, &count));
    EXPECT_EQ(1, count);
    EXPECT_EQ("a\r", fixed("a\r"));
    EXPECT_EQ(std::string("a\0\r\nb", 5), fixed(std::string("a\0\nb", 4)));
}

TEST(MessageFixCrlf, LeadingLineFeedDependsOnThePreviousByte) {
    int count = -1;
    EXPECT_EQ("\r\nx", fixed("\nx", false, &count));
    EXPECT_EQ(1, count);
    EXPECT_EQ("\nx", fixed("\nx", true, &count));
    EXPECT_EQ(0, count);
    // Only a leading LF looks at the previous part.
    EXPECT_EQ("x\r\n", fixed("x\n", true));
}

TEST(MessageFixCrlf, CountingAgreesWithFixing) {
    for (std::string in : std::vector<std::string>{"", "\n", "\r", "\r\n", "\n\n\r\n\r", "a\nb\r\nc\rd\n", "\r\r\n\n\nx",
                           std::string("\0\n\0\r\n", 5), std::string(70000, '\n') + "\r\n"}) {
        for (bool followsCr : {false, true}) {
            std::string out;
            EXPECT_EQ(Message::fixCrlf(in, out, followsCr), Message::countBareLineFeeds(in, followsCr))
                << ::testing::PrintToString(in) << " followsCr " << followsCr;
        }
    }
}

TEST_F(StoredMessage, ExactlyOnePartAtTheLimit) {
    std::string data(partSize, 'a');
    store(data);
    std::vector<std::size_t> parts;
    EXPECT_EQ(data, streamData(message, &parts));
    EXPECT_EQ(std::vector<std::size_t>{partSize}, parts);
    EXPECT_EQ(static_cast<std::int64_t>(partSize), message.getFixedSize());
}

TEST_F(StoredMessage, OneByteMoreGivesASecondPart) {
    std::string data(partSize + 1, 'a');
    store(data);
    std::vector<std::size_t> parts;
    EXPECT_EQ(data, streamData(message, &parts));
    EXPECT_EQ((std::vector<std::size_t>{partSize, 1}), parts);
    EXPECT_EQ(static_cast<std::int64_t>(partSize + 1), message.getFixedSize());
}

TEST_F(StoredMessage, BareLineFeedStartingAPartIsFixed) {
    std::string data = std::string(partSize, 'a') + "\nb";
    store(data);
    std::vector<std::size_t> parts;
    std::int64_t fixedSize = message.getFixedSize();
    std::string sent = streamData(message, &parts);
    EXPECT_EQ(fixedWhole(data), sent);
    EXPECT_EQ(static_cast<std::int64_t>(sent.size()), fixedSize);
    EXPECT_EQ((std::vector<std::size_t>{partSize, 3}), parts);
}

TEST_F(StoredMessage, CrLfSplitBetweenPartsStaysOnePair) {
    std::string data = std::string(partSize - 1, 'a') + "\r\n" + std::string(partSize - 1, 'b') + "\r" + "\n\n";
    store(data);
    std::int64_t fixedSize = message.getFixedSize();
    std::string sent = streamData(message);
    EXPECT_EQ(fixedWhole(data), sent);
    EXPECT_EQ(data.size() + 1, sent.size());  // only the last LF was bare
    EXPECT_EQ(static_cast<std::int64_t>(sent.size()), fixedSize);
}

TEST_F(StoredMessage, LineFeedAsFirstByteIsFixed) {
    store("\nbody\n");
    EXPECT_EQ(8, message.getFixedSize());
    EXPECT_EQ("\r\nbody\r\n", streamData(message));
}

TEST_F(StoredMessage, ManyPartsWithMixedLineEnds) {
    std::string data;
    for (int i = 0; data.size() < 5 * partSize; ++i) data += (i % 3 == 0) ? "line\n" : (i % 3 == 1) ? "cr\r" : "crlf\r\n";
    store(data);
    std::int64_t fixedSize = message.getFixedSize();
    std::string sent = streamData(message);
    EXPECT_EQ(fixedWhole(data), sent);
    EXPECT_EQ(static_cast<std::int64_t>(sent.size()), fixedSize);
    // Restartable: the same bytes again.
    EXPECT_EQ(sent, streamData(message));
}

TEST_F(StoredMessage, FixingOffDeliversStoredBytes) {
    std::string data = "\n" + std::string(partSize - 1, 'a') + "\nb\r\n";
    store(data, false);
    EXPECT_EQ(static_cast<std::int64_t>(data.size()), message.getFixedSize());
    EXPECT_EQ(data, streamData(message));
}

TEST_F(StoredMessage, ZeroLengthMessageHasNoParts) {
    store("");
    std::string part = "stale";
    EXPECT_FALSE(message.getFirstDataPart(part));
    EXPECT_EQ("", part);
    EXPECT_EQ(0, message.getFixedSize());
}

TEST_F(StoredMessage, FileShorterThanRecordedEndsEarlySilently) {
    std::string data = std::string(partSize, '\n') + "tail";
    store(data);
    // Claim far more than the file holds past the message.
    message.initialize(message.getOffset(), 3 * static_cast<std::int64_t>(partSize), true);
    std::int64_t fixedSize = message.getFixedSize();
    std::string sent = streamData(message);
    EXPECT_EQ(static_cast<std::int64_t>(sent.size()), fixedSize);
    EXPECT_EQ(0u, sent.rfind("\r\n\r\n", 0));
    EXPECT_EQ("after", sent.substr(sent.size() - 5));

    message.initialize(message.getOffset(), 3 * static_cast<std::int64_t>(partSize), false);
    fixedSize = message.getFixedSize();
    sent = streamData(message);
    EXPECT_EQ(static_cast<std::int64_t>(sent.size()), fixedSize);
    EXPECT_LT(sent.size(), 3 * partSize);
}

TEST(MessageWithoutFile, ReadingFailsAndUnfixedSizeNeedsNoFile) {
    std::ostringstream output;
    Folder folder(output);
    Message message(folder);
    std::string part;
    message.initialize(0, 10, true);
    EXPECT_THROW(message.getFirstDataPart(part), CGStoreException);
    EXPECT_EQ("message cannot be read", errorText<CGStoreException>([&] { message.getFixedSize(); }));
    message.initialize(0, 10, false);
    EXPECT_EQ(10, message.getFixedSize());
    EXPECT_EQ("", output.str());
}
