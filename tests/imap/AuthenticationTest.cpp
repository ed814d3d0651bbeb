#include "imap/CommandAuthCramMD5.h"
#include "imap/CommandXMasterAuth.h"
#include "imap/CommandXSetUser.h"
#include "imap/ConnectionInternal.h"
#include "imap/ImapException.h"

#include "ScriptedConnection.h"

#include <gtest/gtest.h>

namespace {

using tarmig::testing::ScriptedPeer;

// MD5 of "<1896.697170952@host.example>secret", computed with the openssl tool.
const char* const masterDigest = "e0249cc5240ceeec80d57aae98eed3bd";
// The base64 "<1896.697170952@postoffice.reston.mci.net>" of RFC 2195.
const char* const rfcChallenge = "PDE4OTYuNjk3MTcwOTUyQHBvc3RvZmZpY2UucmVzdG9uLm1jaS5uZXQ+";

std::string loginFailure(ConnectionInternal& connection) {
    return tarmig::testing::initFailure<AuthenticateFailedException>(connection, true, 0);
}

TEST(AuthenticationTest, MasterDigestCoversOnlyTheBracketedToken) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 X-MASTERAUTH\r\n")
        .send("+ text before <1896.697170952@host.example> and after\r\n")
        .expect(std::string(masterDigest) + "\r\n")
        .send("* OK noted\r\n* 2 EXISTS\r\nT0 OK welcome\r\n");
    peer.start();
    ConnectionInternal connection;
    connection.initialize("127.0.0.1", peer.port(), "secret", 5, false);
    connection.init(true);
    EXPECT_EQ(connection.getState(), ConnectionInternal::Authenticated);
    connection.close();
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received(), "T0 X-MASTERAUTH\r\n" + std::string(masterDigest) + "\r\n");
}

TEST(AuthenticationTest, MasterContinuationCompletedLineByLine) {
    // The announced 5 bytes are completed by whole lines: "abc\r\n" (5) is not
    // more than 5, so the line with the token is read too.
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 X-MASTERAUTH\r\n")
        .send("+ {5}\r\nabc\r\n<b>\r\n")
        .expect("\r\n")
        .send("T0 OK\r\n");
    peer.start();
    ConnectionInternal connection;
    connection.initialize("127.0.0.1", peer.port(), "xyz", 5, false);
    connection.init(true);
    connection.close();
    EXPECT_EQ(peer.wait(), "");
    // MD5 of "<b>xyz", computed with the openssl tool.
    EXPECT_EQ(peer.received(), "T0 X-MASTERAUTH\r\n9ff5337154846d0b3750db2c28024abd\r\n");
}

TEST(AuthenticationTest, MasterRefusals) {
    struct Case {
        std::string reply;
        std::string sentAfterCommand;
    };
    const Case cases[] = {
        {"T0 NO not here\r\n", ""},
        {"* OK something else\r\n", ""},
        {"+ no token at all\r\n", ""},  // nothing to digest: refused, nothing sent
        {"+ <1896.697170952@host.example>\r\nT0 NO wrong\r\n", std::string(masterDigest) + "\r\n"},
        {"+ <1896.697170952@host.example>\r\nT0 BAD wrong\r\n", std::string(masterDigest) + "\r\n"},
    };
    for (const Case& item : cases) {
        ScriptedPeer peer;
        peer.send("* OK ready\r\n").expect("T0 X-MASTERAUTH\r\n").send(item.reply).expectClosed();
        peer.start();
        ConnectionInternal connection;
        connection.initialize("127.0.0.1", peer.port(), "secret", 5, false);
        EXPECT_EQ(loginFailure(connection), "Authentication failed - Master Authentication")
            << item.reply;
        EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
        EXPECT_EQ(peer.wait(), "") << item.reply;
        EXPECT_EQ(peer.received(), "T0 X-MASTERAUTH\r\n" + item.sentAfterCommand) << item.reply;
    }
}

TEST(AuthenticationTest, ByeDuringLoginBreaksTheConnection) {
    for (const std::string reply : {"* BYE busy\r\n", "+ <t@h>\r\n* BYE later\r\n"}) {
        ScriptedPeer peer;
        peer.send("* OK ready\r\n").expect("T0 X-MASTERAUTH\r\n").send(reply).expectClosed();
        peer.start();
        ConnectionInternal connection;
        connection.initialize("127.0.0.1", peer.port(), "secret", 5, false);
        EXPECT_THROW(connection.init(true), ImapServerBrokeConnection) << reply;
        EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
        EXPECT_EQ(peer.wait(), "");
    }
}

TEST(AuthenticationTest, CramMD5MatchesRfc2195) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 AUTHENTICATE CRAM-MD5\r\n")
        .send("+ " + std::string(rfcChallenge) + "\r\n")
        .expect("dGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n")
        .send("T0 OK CRAM authentication successful\r\n");
    peer.start();
    ConnectionInternal connection;
    connection.initialize("127.0.0.1", peer.port(), "tim", "tanstaaftanstaaf", true, 5, false);
    connection.init(true);
    EXPECT_EQ(connection.getState(), ConnectionInternal::Authenticated);
    connection.close();
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received(),
              "T0 AUTHENTICATE CRAM-MD5\r\ndGltIGI5MTNhNjAyYzdlZGE3YTQ5NWI0ZTZlNzMzNGQzODkw\r\n");
}

TEST(AuthenticationTest, CramMD5KeyLongerThanBlockIsHashed) {
    ImapTransport transport;
    std::string password;
    for (int i = 0; i < 7; ++i) {
        password += "0123456789";
    }
    CommandAuthCramMD5 command(transport, "tim", password);
    // HMAC-MD5 with the 70-byte key, computed with the openssl tool.
    EXPECT_EQ(command.makeCramMD5Response(" " + std::string(rfcChallenge) + "\r\n"),
              "dGltIDM0MmUzYjAxYWQyMzNhNTMyMzM4ZjVlOGY1N2M1YzAx");
}

TEST(AuthenticationTest, CramMD5Refused) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 AUTHENTICATE CRAM-MD5\r\n")
        .send("+ " + std::string(rfcChallenge) + "\r\n")
        .expect("\r\n")
        .send("T0 NO bad password\r\n")
        .expectClosed();
    peer.start();
    ConnectionInternal connection;
    connection.initialize("127.0.0.1", peer.port(), "tim", "wrong", true, 5, false);
    EXPECT_EQ(loginFailure(connection), "Authentication failed - Authentication CRAM-MD5");
    EXPECT_EQ(peer.wait(), "");
}

TEST(AuthenticationTest, LoginQuotesAndEscapes) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 LOGIN \"a\\\"b\" \"p\\\\q w\"\r\n")
        .send("T0 OK\r\n")
        .acceptNext()
        .send("* OK ready\r\n")
        .expect("T1 LOGIN")
        .send("T1 NO [AUTHENTICATIONFAILED] no\r\n")
        .expectClosed();
    peer.start();
    ConnectionInternal connection;
    connection.initialize("127.0.0.1", peer.port(), "a\"b", "p\\q w", false, 5, false);
    connection.init(true);
    EXPECT_EQ(connection.getState(), ConnectionInternal::Authenticated);
    connection.close();
    EXPECT_EQ(loginFailure(connection), "Authentication failed - Login");
    EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.connection(0), "T0 LOGIN \"a\\\"b\" \"p\\\\q w\"\r\n");
}

TEST(AuthenticationTest, SetUserSendsTheAddressQuoted) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 X-SETUSER \"ann@sales\"\r\n").send("T0 OK\r\n")
        .expect("T1 X-SETUSER \"bob \\\"x\\\"@sales\"\r\n").send("T1 NO unknown\r\n");
    peer.start();
    ConnectionInternal connection;
    connection.initialize("127.0.0.1", peer.port(), "secret", 5, false);
    connection.init(false);
    CommandXSetUser ann(connection.transport(), "ann@sales");
    EXPECT_EQ(connection.setUser(ann), Command::OK);
    CommandXSetUser bob(connection.transport(), "bob \"x\"@sales");
    EXPECT_EQ(connection.setUser(bob), Command::NO);
    EXPECT_EQ(peer.wait(), "");
}

}  // namespace
