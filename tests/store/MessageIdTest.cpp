#include "store/MessageId.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <stdexcept>

#include "store/CGException.h"
#include "store/Folder.h"
#include "store/Message.h"
#include "support/StoreBuilder.h"
#include "utils/IMessage.h"

using namespace tarmig;
using namespace tarmig::testing;

namespace {

// A message source over fixed parts that counts what was read; a part past
// `readable` fails as an unreadable store file does.
class PartSource : public IMessage {
public:
    explicit PartSource(std::vector<std::string> parts, std::size_t readable = SIZE_MAX)
        : parts(std::move(parts)), readable(readable) {}
    bool getFirstDataPart(std::string& part) override {
        next = 0;
        return getNextDataPart(part);
    }
    bool getNextDataPart(std::string& part) override {
        if (next >= parts.size()) return false;
        if (next >= readable) throw CGStoreException("message cannot be read");
        part = parts[next++];
        ++partsRead;
        return true;
    }
    std::string getFlags() override { return ""; }
    std::string getDate() override { return ""; }
    std::int64_t getSize() override { return 0; }
    std::int64_t getFixedSize() override { return 0; }

    std::vector<std::string> parts;
    std::size_t readable;
    std::size_t next = 0;
    std::size_t partsRead = 0;
};

std::optional<std::string> idOf(std::vector<std::string> parts) {
    PartSource source(std::move(parts));
    return readMessageId(source);
}

TEST(ReadMessageId, FirstFieldOfTheHeaderUnfoldedAcrossParts) {
    EXPECT_EQ(idOf({"Subject: x\r\nMessage-ID: <a@x>\r\n\r\nbody\r\n"}), "<a@x>");
    EXPECT_EQ(idOf({"MESSAGE-id:\r\n", "\t<fold", "ed@x> \r\n", "Subject: y\r\n\r\n"}), "<folded@x>");
    EXPECT_EQ(idOf({"Message-ID: <1@x>\r\nmessage-id: <2@x>\r\n\r\n"}), "<1@x>");
    EXPECT_EQ(idOf({"Message-ID   : <old@x>\n\nbody\n"}), "<old@x>");
    EXPECT_EQ(idOf({"Subject: x\r\nMessage-ID: <last@x>"}), "<last@x>") << "data ending in the header";
    EXPECT_EQ(idOf({"Message-ID: <a@x>\r\n", " more"}), "<a@x> more");
    EXPECT_EQ(idOf({"Message-ID:\r\n\r\n"}), "");
}

TEST(ReadMessageId, NoneOutsideTheHeaderOrUnderAnotherName) {
    EXPECT_FALSE(idOf({"Subject: x\r\n\r\nMessage-ID: <body@x>\r\n"}));
    EXPECT_FALSE(idOf({"\r\nMessage-ID: <body@x>\r\n"}));
    EXPECT_FALSE(idOf({"Resent-Message-ID: <r@x>\r\nMessage-IDs: <s@x>\r\n Message-ID: <t@x>\r\n\r\n"}));
    EXPECT_FALSE(idOf({}));
    EXPECT_FALSE(idOf({"Subject: no line end"}));
}

TEST(ReadMessageId, StopsReadingOnceTheFieldOrTheHeaderHasEnded) {
    // Reading on would reach the part that fails.
    PartSource found({"Message-ID: <a@x>\r\nSubject: s\r\n", "\r\n", "body"}, 1);
    EXPECT_EQ(readMessageId(found), "<a@x>");
    PartSource ended({"Subject: s\r\n", "\r\nbody\r\n", "more body"}, 2);
    EXPECT_FALSE(readMessageId(ended));
    EXPECT_EQ(ended.partsRead, 2u);
    PartSource folded({"Message-ID: <a@x>\r\n", " <b@x>\r\n", "X: y\r\n", "body"}, 3);
    EXPECT_EQ(readMessageId(folded), "<a@x> <b@x>");
    PartSource broken({"Subject: s\r\n", "Message-ID: <a@x>\r\n"}, 1);
    EXPECT_THROW(readMessageId(broken), CGStoreException);
}

// A stored message with bare LF line ends and a body larger than a part:
// the identifier is read from the data as sent, and sending starts over.
TEST(ReadMessageId, StoredMessageAsSent) {
    TempDir tmp;
    std::ostringstream output;
    Folder folder(output);
    MboxMessage stored;
    stored.data = "Subject: s\nMessage-ID:\n  <stored@x>\n\n" + std::string(3 * Message::maxPartSize, 'b') + "\n";
    writeFile(tmp.path() + "/Mail.mbox", mboxText({stored}));
    folder.initialize("Mail", tmp.path(), MailboxMacnt);
    folder.openMessagesFile("ann");
    Message message(folder);
    ASSERT_TRUE(folder.getFirstMessage(message, true));
    EXPECT_EQ(readMessageId(message), "<stored@x>");
    std::string part;
    ASSERT_TRUE(message.getFirstDataPart(part));
    EXPECT_EQ(part.substr(0, 12), "Subject: s\r\n");
    folder.closeMessagesFile();
}

}  // namespace
