#include "imap/CommandAppend.h"
#include "imap/ConnectionInternal.h"
#include "ScriptedClient.h"
#include "TestMessage.h"

using tarmig::testing::ScriptedClientTest;
using tarmig::testing::TestMessage;

using AppendWire = ScriptedClientTest;

namespace {
const std::string date = "20-Feb-2004 12:34:56 +0000";
const std::string body1 = "Subject: hi\r\n\r\n";
const std::string body2 = "body line\r\n";
}  // namespace

TEST_F(AppendWire, FlagsDateAndStreamedLiteral) {
    const std::string data = body1 + body2;
    const std::string expected =
        "T1 APPEND \"INBOX\" (\\Seen \\Flagged ) \"" + date + "\" {26+}\r\n" + data + "\r\n" +
        "T2 X-APPEND \"INBOX\" (\\Seen \\Flagged ) \"" + date + "\" {26+}\r\n" + data + "\r\n";
    peer.expect(data + "\r\n").send("T1 OK [APPENDUID 1 1] done\r\n")
        .expect(data + "\r\n").send("T2 OK done\r\n");
    start();
    TestMessage message({body1, body2}, "\\Seen \\Flagged ", date);
    EXPECT_EQ(client.append("INBOX", &message, false), SimpleImapClient::Ok);
    EXPECT_EQ(client.append("INBOX", &message, true), SimpleImapClient::Ok);
    EXPECT_EQ(sentAfterLogin(), expected);
}

TEST_F(AppendWire, OptionalPartsOmitted) {
    const std::string expected =
        "T1 APPEND \"Sent\" {11+}\r\n" + body2 + "\r\n" +
        "T2 APPEND \"Sent\" (\\Draft ) {11+}\r\n" + body2 + "\r\n" +
        "T3 APPEND \"Sent\" \"" + date + "\" {11+}\r\n" + body2 + "\r\n";
    peer.expect(body2 + "\r\n").send("T1 OK\r\n")
        .expect(body2 + "\r\n").send("T2 OK\r\n")
        .expect(body2 + "\r\n").send("T3 NO [TRYCREATE] no folder\r\n");
    start();
    TestMessage bare({body2}, "", "");
    TestMessage flagged({body2}, "\\Draft ", "");
    TestMessage dated({body2}, "", date);
    EXPECT_EQ(client.append("Sent", &bare, false), SimpleImapClient::Ok);
    EXPECT_EQ(client.append("Sent", &flagged, false), SimpleImapClient::Ok);
    EXPECT_EQ(client.append("Sent", &dated, false), SimpleImapClient::AppendFailed);
    EXPECT_EQ(sentAfterLogin(), expected);
}

TEST_F(AppendWire, ZeroSizeLiteralIsFollowedByTheLineEnd) {
    peer.expect("{0+}\r\n\r\n").send("T1 OK\r\n");
    start();
    TestMessage empty({}, "", "");
    EXPECT_EQ(client.append("INBOX", &empty, false), SimpleImapClient::Ok);
    EXPECT_EQ(sentAfterLogin(), "T1 APPEND \"INBOX\" {0+}\r\n\r\n");
}

TEST_F(AppendWire, FailingSourceIsMessageLoadFailed) {
    peer.expect(body1);
    start();
    TestMessage message({body1, body2}, "", "");
    message.failAtPart(1);
    EXPECT_EQ(client.append("INBOX", &message, false), SimpleImapClient::MessageLoadFailed);
    // The literal stays unfinished: nothing after the first part was sent.
    EXPECT_EQ(sentAfterLogin(), "T1 APPEND \"INBOX\" {26+}\r\n" + body1);
}

TEST(CommandAppend, LiteralLengthBeyondFourGiB) {
    ConnectionInternal connection;
    CommandAppend command(connection.transport(), "INBOX", "", "", 5000000000ULL, true);
    EXPECT_EQ(command.getCommandString(), "T0 X-APPEND \"INBOX\" {5000000000+}\r\n");
}
