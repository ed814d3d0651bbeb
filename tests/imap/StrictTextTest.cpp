// 8-bit text, non-ASCII folder names and NUL in message data through the
// facade, against a real IMAP server (a private Dovecot on loopback) and
// against the Vantrel test server, which must answer the same way.
#include "imap/FetchMessage.h"
#include "imap/SimpleImapClient.h"
#include "support/DovecotServer.h"
#include "support/LoopbackClient.h"
#include "support/VantrelServer.h"
#include "TestMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace tarmig::testing;
using C = SimpleImapClient;

namespace {

const std::string drafts = "Entw\xc3\xbcrfe";
const std::string latin1 = "Entw\xfcrfe";
const std::string nulBody = std::string("Subject: nul\r\n\r\nbefore ") + '\0' + " after\r\n";

std::string readBody(FetchMessage& message) {
    std::string body, part;
    for (bool more = message.getFirstDataPart(part); more; more = message.getNextDataPart(part)) body += part;
    return body;
}

std::string literal(const std::string& value) { return "{" + std::to_string(value.size()) + "+}\r\n" + value; }

// Sends one command and returns its tagged line, untagged lines skipped.
std::string command(LoopbackClient& client, const std::string& tag, const std::string& text) {
    client.send(tag + " " + text + "\r\n");
    for (;;) {
        std::string line = client.line();
        if (line.rfind(tag + " ", 0) == 0) return line;
    }
}

// The same steps on either server, the client logged in to an account.
void foldersAndMessages(SimpleImapClient& client) {
    ASSERT_EQ(client.createFolder(drafts, C::FolderNone), C::Ok);
    ASSERT_EQ(client.createFolder(drafts + "/R&D \xf0\x9f\x98\x80", C::FolderNone), C::Ok);
    std::vector<std::string> names;
    ASSERT_EQ(client.list(names), C::Ok);
    EXPECT_NE(std::find(names.begin(), names.end(), drafts), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), drafts + "/R&D \xf0\x9f\x98\x80"), names.end());

    // Not UTF-8: refused before anything is sent, with the reason.
    EXPECT_EQ(client.createFolder(latin1, C::FolderNone), C::CreateFolderFailed);
    EXPECT_EQ(client.lastResponseText(), "the folder name is not UTF-8 text, so it has no IMAP name");
    EXPECT_EQ(client.select(latin1), C::SelectFailed);
    unsigned count = 99;
    EXPECT_EQ(client.status(latin1, count), C::StatusFailed);
    TestMessage plain({"Subject: a\r\n\r\na\r\n"});
    EXPECT_EQ(client.append(latin1, &plain, false), C::AppendFailed);

    // The message with NUL is not sent; the connection goes on.
    TestMessage withNul({nulBody.substr(0, 5), nulBody.substr(5)});
    EXPECT_EQ(client.append(drafts, &withNul, false), C::MessageLoadFailed);
    EXPECT_EQ(client.lastResponseText(), "the message holds a NUL byte, which IMAP cannot carry");
    TestMessage eightBit({"Subject: \xc3\xa9t\xc3\xa9\r\n\r\n\xff\x01\r\n"});
    EXPECT_EQ(client.append(drafts, &eightBit, false), C::Ok);

    ASSERT_EQ(client.status(drafts, count), C::Ok);
    EXPECT_EQ(count, 1u);
    ASSERT_EQ(client.select(drafts), C::Ok);
    FetchMessage fetched;
    ASSERT_EQ(client.fetch(1, fetched), C::Ok);
    EXPECT_EQ(readBody(fetched), "Subject: \xc3\xa9t\xc3\xa9\r\n\r\n\xff\x01\r\n");
    client.disconnect(true);
}

class StrictTextDovecot : public ::testing::Test {
protected:
    void SetUp() override {
        if (!dovecotInstalled()) GTEST_SKIP() << "Dovecot is not installed (/usr/sbin/dovecot); install dovecot-imapd";
        DovecotOptions options;
        options.users = {{"ann", "secret"}, {"pw", "p\xc3\xa4ss \"\\"}};
        server = std::make_unique<DovecotServer>(options);
        std::string error;
        ASSERT_TRUE(server->start(error)) << error;
    }

    std::unique_ptr<DovecotServer> server;
};

TEST_F(StrictTextDovecot, FoldersAndMessagesThroughTheFacade) {
    SimpleImapClient client(10);
    // The password with 8-bit bytes goes as a literal.
    ASSERT_EQ(client.connect("127.0.0.1", server->port(), "pw", "p\xc3\xa4ss \"\\", false), C::Ok);
    foldersAndMessages(client);
}

// What Dovecot itself answers, byte for byte, which the test server mirrors:
// raw 8-bit mailbox names are refused with NO whether quoted or literal, and
// NUL in an APPEND literal is taken and stored as 0x80. (Dovecot also takes
// 8-bit bytes between quotes, where the test server, like RFC 3501, does not.)
TEST_F(StrictTextDovecot, AnswersToRawNamesAndNul) {
    LoopbackClient client(server->port());
    client.line();
    ASSERT_EQ(command(client, "L", "LOGIN ann secret").substr(0, 4), "L OK");
    const std::string refused = "NO Mailbox name is not valid mUTF-7";
    EXPECT_EQ(command(client, "A1", "CREATE \"" + drafts + "\"").substr(3, refused.size()), refused);
    EXPECT_EQ(command(client, "A2", "CREATE " + literal(drafts)).substr(3, refused.size()), refused);
    EXPECT_EQ(command(client, "A3", "CREATE \"R&D\"").substr(3, refused.size()), refused);
    EXPECT_EQ(command(client, "A4", "APPEND " + literal(drafts) + " " + literal("x")).substr(3, refused.size()),
              refused);
    EXPECT_EQ(command(client, "A5", "APPEND INBOX " + literal(nulBody)).substr(0, 5), "A5 OK");
    EXPECT_EQ(command(client, "A6", "SELECT INBOX").substr(0, 5), "A6 OK");
    client.send("A7 FETCH 1 BODY.PEEK[]\r\n");
    EXPECT_EQ(client.line(), "* 1 FETCH (BODY[] {" + std::to_string(nulBody.size()) + "}\r\n");
    std::string stored = nulBody;
    stored[stored.find('\0')] = '\x80';
    EXPECT_EQ(client.bytes(nulBody.size()), stored);
}

TEST(StrictTextVantrel, FoldersAndMessagesThroughTheFacade) {
    VantrelServer server;
    SimpleImapClient client(10);
    ASSERT_EQ(client.connect("127.0.0.1", server.port(), "master", 0), C::Ok);
    const std::string fullName = "Zo\xc3\xab \xc3\x86r\xc3\xb8";
    ASSERT_EQ(client.createUser("zo\xc3\xab", "sales", "p\xc3\xa4ss", fullName), C::Ok);
    ASSERT_EQ(client.setUser("zo\xc3\xab", "sales"), C::Ok);
    foldersAndMessages(client);

    server.stop();
    const VantrelDump dump = server.dump();
    const VantrelAccount* zoe = dump.account("zo\xc3\xab", "sales");
    ASSERT_NE(zoe, nullptr);
    EXPECT_EQ(zoe->password, "p\xc3\xa4ss");
    EXPECT_EQ(zoe->fullName, fullName);
    ASSERT_NE(zoe->folder("Entw&APw-rfe/R&-D &2D3eAA-"), nullptr);
    ASSERT_NE(zoe->folder("Entw&APw-rfe"), nullptr);
    EXPECT_EQ(zoe->folder("Entw&APw-rfe")->messages.size(), 1u);
}

}  // namespace
