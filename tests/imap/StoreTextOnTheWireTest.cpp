#include "imap/CommandList.h"
#include "imap/ConnectionInternal.h"
#include "imap/ImapException.h"

#include "ScriptedClient.h"
#include "ScriptedConnection.h"
#include "TestMessage.h"

// Names, passwords and folder names come from the store: whatever bytes
// they hold, each stays one argument of its command.
namespace {

using tarmig::testing::ScriptedClientTest;
using tarmig::testing::ScriptedPeer;
using tarmig::testing::TestMessage;
using C = SimpleImapClient;

using StoreTextWire = ScriptedClientTest;

// The injected text a value carries after its line break.
const std::string injected = "\r\nT9 X-SETUSER \"root@x\"";

TEST_F(StoreTextWire, ValuesWithLineBreaksGoOutAsLiterals) {
    const std::string box = "Box" + injected;  // 26 bytes
    const std::string wireBox = "\"Box&AA0ACg-T9 X-SETUSER \\\"root@x\\\"\"";
    const std::vector<std::string> lines = {
        "T1 X-CREATEUSER (NAME {3+}\r\nann DOMAIN {5+}\r\nsales PASSWORD {25+}\r\npw" + injected +
            " FULLNAME {8+}\r\nAnn\r\nLee)\r\n",
        "T2 X-SETUSER {32+}\r\nann" + injected + "@sales\r\n",
        // A folder name's line break is shifted in modified UTF-7; its quotes are escaped.
        "T3 SELECT " + wireBox + "\r\n",
        "T4 CREATE (X-MAIL) " + wireBox + "\r\n",
        "T5 STATUS " + wireBox + " (MESSAGES)\r\n",
        "T6 APPEND " + wireBox + " (\\Seen ) \"20-Feb-2004 12:34:56 +0000\" {4+}\r\ndata\r\n",
    };
    std::string expected;
    for (const std::string& line : lines) {
        peer.expect(line).send(line.substr(0, 2) + " NO refused\r\n");
        expected += line;
    }
    start();
    EXPECT_EQ(client.createUser("ann", "sales", "pw" + injected, "Ann\r\nLee"), C::CreateUserFailed);
    EXPECT_EQ(client.setUser("ann" + injected, "sales"), C::SetUserFailed);
    EXPECT_EQ(client.select(box), C::SelectFailed);
    EXPECT_EQ(client.createFolder(box, C::FolderMail), C::CreateFolderFailed);
    unsigned count = 0;
    EXPECT_EQ(client.status(box, count), C::StatusFailed);
    TestMessage message({"data"}, "\\Seen ", "20-Feb-2004 12:34:56 +0000");
    EXPECT_EQ(client.append(box, &message, false), C::AppendFailed);
    EXPECT_EQ(sentAfterLogin(), expected);
}

TEST(StoreTextCommands, ListAndLoginTakeLiteralsToo) {
    ImapTransport unopened;
    CommandList list(unopened, "a\nb", "*");
    EXPECT_EQ(list.getCommandString(), "T0 LIST {3+}\r\na\nb \"*\"");

    ScriptedPeer peer(std::chrono::seconds(5));
    peer.send("* OK ready\r\n").expect("T0 LOGIN {3+}\r\nu\rv {3+}\r\np\nq\r\n").send("T0 OK\r\n");
    peer.start();
    ConnectionInternal connection;
    connection.initialize("127.0.0.1", peer.port(), "u\rv", "p\nq", false, 5, false);
    connection.init(true);
    EXPECT_EQ(connection.getState(), ConnectionInternal::Authenticated);
    connection.close();
    EXPECT_EQ(peer.wait(), "");
}

// NUL has no form in IMAP: the command fails before a byte of it is sent,
// with the operation's own result, and the session goes on.
TEST_F(StoreTextWire, ValuesWithNulAreRefusedWithoutSending) {
    const std::string nul("a\0b", 3);
    peer.expect("T9 X-CHECKVERSION\r\n").send("T9 OK Vantrel 6.3.0\r\n");
    start();
    EXPECT_EQ(client.createUser(nul, "sales", "pw", ""), C::CreateUserFailed);
    EXPECT_EQ(client.createUser("ann", "sales", nul, ""), C::CreateUserFailed);
    EXPECT_EQ(client.createUser("ann", "sales", "pw", nul), C::CreateUserFailed);
    EXPECT_EQ(client.setUser(nul, "sales"), C::SetUserFailed);
    EXPECT_EQ(client.select(nul), C::SelectFailed);
    EXPECT_EQ(client.createFolder(nul, C::FolderMail), C::CreateFolderFailed);
    unsigned count = 0;
    EXPECT_EQ(client.status(nul, count), C::StatusFailed);
    TestMessage message({"data"});
    EXPECT_EQ(client.append(nul, &message, true), C::AppendFailed);
    // Each refused command took a tag (T1 to T8); the session still answers.
    EXPECT_TRUE(client.isXAppendSupported());
    EXPECT_EQ(sentAfterLogin(), "T9 X-CHECKVERSION\r\n");
}

TEST(StoreTextCommands, LoginWithNulIsRefusedWithoutSending) {
    ScriptedPeer peer(std::chrono::seconds(5));
    peer.send("* OK ready\r\n").expectClosed();
    peer.start();
    SimpleImapClient client(5);
    EXPECT_EQ(client.connect("127.0.0.1", peer.port(), std::string("u\0", 2), "p", false),
              C::AuthenticationFailed);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received(), "");
}

}  // namespace
