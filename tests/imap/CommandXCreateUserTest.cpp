#include "imap/CommandXCreateUser.h"
#include "imap/ConnectionInternal.h"
#include "ScriptedClient.h"

using tarmig::testing::ScriptedClientTest;
using tarmig::testing::ScriptedPeer;

using CreateUserWire = ScriptedClientTest;

TEST_F(CreateUserWire, NameAndDomainAsLiteralsFullNameQuoted) {
    const std::string line =
        "T1 X-CREATEUSER (NAME {3+}\r\nann DOMAIN {5+}\r\nsales PASSWORD \"pw\" "
        "FULLNAME \"Sales Desk\")\r\n";
    peer.expect(line).send("T1 OK created\r\n");
    start();
    EXPECT_EQ(client.createUser("ann", "sales", "pw", "Sales Desk"), SimpleImapClient::Ok);
    EXPECT_EQ(sentAfterLogin(), line);
}

TEST_F(CreateUserWire, ByteLengthsEscapesAndNoEmptyFullName) {
    // "j\xc3\xb6 s" is four characters but five bytes; the quote stays raw in a literal.
    const std::string line =
        "T1 X-CREATEUSER (NAME {5+}\r\nj\xc3\xb6 s DOMAIN {3+}\r\na\"b PASSWORD \"p\\\"w\\\\x\")\r\n";
    peer.expect(line).send("T1 NO exists\r\n");
    start();
    EXPECT_EQ(client.createUser("j\xc3\xb6 s", "a\"b", "p\"w\\x", ""),
              SimpleImapClient::CreateUserFailed);
    EXPECT_EQ(sentAfterLogin(), line);
}

TEST_F(CreateUserWire, SetUserQuotesTheAddress) {
    peer.expect("\r\n").send("T1 BAD no such account\r\n");
    start();
    EXPECT_EQ(client.setUser("ann", "sales"), SimpleImapClient::SetUserFailed);
    EXPECT_EQ(sentAfterLogin(), "T1 X-SETUSER \"ann@sales\"\r\n");
}

TEST(CommandXCreateUser, GroupsAsQuotedList) {
    ScriptedPeer peer(std::chrono::seconds(5));
    const std::string line =
        "T0 X-CREATEUSER (NAME {1+}\r\nb DOMAIN {1+}\r\nd PASSWORD \"\" GROUPS (\"g1\" \"all staff\"))\r\n";
    peer.send("* OK ready\r\n").expect(line).send("T0 OK\r\n");
    peer.start();
    ConnectionInternal connection;
    connection.initialize("127.0.0.1", peer.port(), "u", "p", false, 5, false);
    connection.init(false);
    CommandXCreateUser command(connection.transport(), "b", "d", "", "", {"g1", "all staff"});
    EXPECT_EQ(command.execute(nullptr), Command::OK);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received(), line);
}
