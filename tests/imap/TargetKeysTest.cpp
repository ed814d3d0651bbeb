#include "imap/CommandUidFetchKeys.h"
#include "imap/CommandUidStore.h"
#include "imap/ImapException.h"
#include "imap/SimpleImapClient.h"
#include "imap/TargetMessage.h"
#include "ScriptedClient.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Reading what identifies the messages of a target folder, and setting
// their flags: the answers' parsing and the exact bytes on the wire.
namespace {

using tarmig::testing::ScriptedClientTest;
using tarmig::testing::ScriptedPeer;
using C = SimpleImapClient;

const std::string keysFetch =
    "UID FETCH 1:* (UID FLAGS INTERNALDATE RFC822.SIZE BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])\r\n";
const std::string oneMessage =
    "* 1 FETCH (UID 7 FLAGS (\\Seen) INTERNALDATE \"20-Feb-2004 12:34:56 +0000\" RFC822.SIZE 40 "
    "BODY[HEADER.FIELDS (MESSAGE-ID)] {21}\r\nMessage-ID: <a@x>\r\n\r\n)\r\n";

TEST(ReadTargetMessage, ItemsInAnyOrderWithTheHeaderAsLiteralOrString) {
    TargetMessage message;
    bool complete = false;
    ASSERT_TRUE(readTargetMessage(
        "RFC822.SIZE 2048 body[header.fields (message-id)] {27}\r\nMessage-ID:\r\n\t<a(1)@x> \r\n\r\n"
        " FLAGS (\\Seen $Forwarded \\Recent) UID 17 INTERNALDATE \" 5-Mar-2004 01:02:03 -0130\"",
        message, complete));
    EXPECT_TRUE(complete);
    EXPECT_EQ(message.uid, 17u);
    EXPECT_EQ(message.size, 2048u);
    EXPECT_EQ(message.flags, (std::vector<std::string>{"\\Seen", "$Forwarded", "\\Recent"}));
    EXPECT_EQ(message.internalDate, " 5-Mar-2004 01:02:03 -0130");
    ASSERT_TRUE(message.arrival);
    EXPECT_EQ(*message.arrival, 1078448523 + 5400);  // 2004-03-05 01:02:03 UTC, then the zone
    EXPECT_EQ(message.messageId, "<a(1)@x>");

    ASSERT_TRUE(readTargetMessage("UID 3 FLAGS () INTERNALDATE \"bad date\" RFC822.SIZE 0 "
                                  "BODY[HEADER.FIELDS (MESSAGE-ID)] \"\r\n\"",
                                  message, complete));
    EXPECT_TRUE(message.flags.empty());
    EXPECT_FALSE(message.arrival) << "an unreadable date is no date, not a failure";
    EXPECT_FALSE(message.messageId);
    ASSERT_TRUE(readTargetMessage("UID 4 FLAGS () INTERNALDATE \"01-Jan-2020 00:00:00 +0000\" "
                                  "RFC822.SIZE 9 BODY[HEADER.FIELDS (MESSAGE-ID)] NIL",
                                  message, complete));
    EXPECT_FALSE(message.messageId);
}

TEST(ReadTargetMessage, IncompleteOrUnreadableAnswers) {
    TargetMessage message;
    bool complete = true;
    EXPECT_FALSE(readTargetMessage("UID 7 FLAGS (\\Seen)", message, complete));
    EXPECT_FALSE(complete) << "a flag change the server reports on its own";
    const std::string rest =
        " INTERNALDATE \"01-Jan-2020 00:00:00 +0000\" BODY[HEADER.FIELDS (MESSAGE-ID)] {2}\r\n\r\n";
    for (const char* bad : {"UID 0 FLAGS () RFC822.SIZE 1", "UID -1 FLAGS () RFC822.SIZE 1",
                                   "UID 4294967296 FLAGS () RFC822.SIZE 1", "UID 1x FLAGS () RFC822.SIZE 1",
                                   "UID 1 FLAGS \\Seen RFC822.SIZE 1", "UID 1 FLAGS () RFC822.SIZE 1e3"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(readTargetMessage(std::string(bad) + rest, message, complete));
        EXPECT_TRUE(complete);
    }
    EXPECT_THROW(readTargetMessage("UID 1 BODY[HEADER.FIELDS (MESSAGE-ID)] {9}\r\nshort", message, complete),
                 ImapParserException);
}

TEST(IsFlagText, AtomsAndSystemFlagsOnly) {
    for (const char* good : {"\\Seen", "$Label1", "Junk", "\\Draft"}) EXPECT_TRUE(isFlagText(good)) << good;
    for (const char* bad : {"", "\\", "a b", "(x", "x)", "\\\\Seen", "\"q\"", "x]", "{3}", "%", "*",
                            "caf\xc3\xa9", "a\r\nT9 DELETE INBOX"})
        EXPECT_FALSE(isFlagText(bad)) << bad;
}

// With LITERAL+ announced, SELECT or EXAMINE and UID FETCH leave together;
// read in two halves, both leave before any answer is read, so the caller
// can work in between.
class PipelinedKeys : public ::testing::Test {
protected:
    // Three steps: greeting, LOGIN, its answer.
    void greet(bool literalPlus = true) {
        peer.send(literalPlus ? "* OK [CAPABILITY IMAP4rev1 LITERAL+] ready\r\n" : "* OK ready\r\n")
            .expect("T0 LOGIN \"u\" \"p\"\r\n")
            .send("T0 OK\r\n");
    }
    void start() {
        peer.start();
        ASSERT_EQ(client.connect("127.0.0.1", peer.port(), "u", "p", false), C::Ok);
    }
    void TearDown() override { client.disconnect(false); }

    ScriptedPeer peer{std::chrono::seconds(5)};
    SimpleImapClient client{5};
};

TEST_F(PipelinedKeys, BothCommandsInOneRoundTripAnswersInUidOrder) {
    greet();
    // Nothing is answered until both commands have arrived. A message that
    // arrives during the fetch (the EXISTS 4) was not in the folder opened.
    peer.expect("T1 EXAMINE \"Sent Items\"\r\nT2 " + keysFetch)
        .send("* 3 EXISTS\r\n* OK [UIDVALIDITY 9] x\r\nT1 OK [READ-ONLY] done\r\n"
              "* 2 FETCH (UID 12 FLAGS (\\Seen) INTERNALDATE \"20-Feb-2004 12:34:56 +0000\" RFC822.SIZE 40 "
              "BODY[HEADER.FIELDS (MESSAGE-ID)] {21}\r\nMessage-ID: <b@x>\r\n\r\n)\r\n"
              "* 1 FETCH (UID 5 FLAGS () INTERNALDATE \"20-Feb-2004 12:34:56 +0000\" RFC822.SIZE 40 "
              "BODY[HEADER.FIELDS (MESSAGE-ID)] {2}\r\n\r\n)\r\n"
              "* 1 FETCH (FLAGS (\\Deleted))\r\n"
              "* 3 FETCH (UID 13 FLAGS () INTERNALDATE \"20-Feb-2004 12:34:56 +0000\" RFC822.SIZE 41 "
              "BODY[HEADER.FIELDS (MESSAGE-ID)] \"\")\r\n"
              "* 4 EXISTS\r\n"
              "T2 OK done\r\n");
    start();
    std::vector<TargetMessage> messages;
    ASSERT_EQ(client.examineKeys("Sent Items", messages), C::Ok);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].uid, 5u);
    EXPECT_TRUE(messages[0].flags.empty()) << "the unsolicited flag change is not a message";
    EXPECT_EQ(messages[1].uid, 12u);
    EXPECT_EQ(messages[1].messageId, "<b@x>");
    EXPECT_EQ(messages[2].size, 41u);
    EXPECT_EQ(peer.wait(), "");
}

TEST_F(PipelinedKeys, RefusedExamineStillReadsTheFetchAnswer) {
    greet();
    peer.expect("T1 EXAMINE \"Gone\"\r\nT2 " + keysFetch)
        .send("T1 NO no such folder\r\nT2 BAD no folder selected\r\n")
        .expect("T3 SELECT \"INBOX\"\r\nT4 " + keysFetch)
        .send("* 1 EXISTS\r\nT3 OK [READ-WRITE] done\r\nT4 OK done\r\n")
        .expect("T5 UID STORE 9 FLAGS ()\r\n")
        .send("T5 OK done\r\n");
    start();
    std::vector<TargetMessage> messages(2);
    EXPECT_EQ(client.examineKeys("Gone", messages), C::SelectFailed);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(client.selectKeys("INBOX", messages), C::FetchFailed)
        << "one message exists but none was answered: it would be sent again";
    EXPECT_EQ(client.storeFlags(9, {}), C::Ok);
    EXPECT_EQ(peer.wait(), "");
}

using TargetKeysWire = ScriptedClientTest;

// A refused EXAMINE ends the exchange: a fetch sent ahead would leave its
// answer owed and the client waiting for it.
TEST_F(TargetKeysWire, WithoutLiteralPlusTheFetchWaitsForTheExamine) {
    peer.expect("T1 EXAMINE \"INBOX\"\r\n")
        .send("* 0 EXISTS\r\nT1 OK done\r\n")
        .expect("T2 " + keysFetch)
        .send("T2 OK done\r\n")
        .expect("T3 EXAMINE \"INBOX\"\r\n")
        .send("* 1 EXISTS\r\nT3 OK done\r\n")
        .expect("T4 " + keysFetch)
        .send("* 1 FETCH (UID 1 FLAGS (\\Seen) INTERNALDATE \"20-Feb-2004 12:34:56 +0000\" RFC822.SIZE -4 "
              "BODY[HEADER.FIELDS (MESSAGE-ID)] {2}\r\n\r\n)\r\nT4 OK done\r\n")
        .expect("T5 EXAMINE \"Gone\"\r\n")
        .send("T5 NO no such folder\r\n");
    start();
    std::vector<TargetMessage> messages;
    EXPECT_EQ(client.examineKeys("INBOX", messages), C::Ok);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(client.examineKeys("INBOX", messages), C::FetchFailed) << "an unreadable size";
    EXPECT_EQ(client.examineKeys("Gone", messages), C::SelectFailed);
    EXPECT_EQ(sentAfterLogin(), "T1 EXAMINE \"INBOX\"\r\nT2 " + keysFetch + "T3 EXAMINE \"INBOX\"\r\nT4 " +
                                    keysFetch + "T5 EXAMINE \"Gone\"\r\n");
}

TEST_F(TargetKeysWire, StoreFlagsReplacesTheListAndRefusesFlagsThatAreNotFlags) {
    peer.expect("T1 UID STORE 7 FLAGS (\\Seen $Label1)\r\n")
        .send("* 3 FETCH (UID 7 FLAGS (\\Seen $Label1))\r\nT1 OK done\r\n")
        .expect("T2 UID STORE 4294967295 FLAGS (\\Draft)\r\n")
        .send("T2 NO [READ-ONLY] mailbox is read-only\r\n");
    start();
    EXPECT_EQ(client.storeFlags(7, {"\\Seen", "$Label1"}), C::Ok);
    EXPECT_EQ(client.storeFlags(4294967295u, {"\\Draft"}), C::StoreFailed);
    EXPECT_EQ(client.storeFlags(8, {"\\Seen", "x) T9 DELETE INBOX (y"}), C::StoreFailed);
    EXPECT_EQ(sentAfterLogin(),
              "T1 UID STORE 7 FLAGS (\\Seen $Label1)\r\nT2 UID STORE 4294967295 FLAGS (\\Draft)\r\n");
}

TEST(TargetKeysNotConnected, EveryOperationSaysSo) {
    SimpleImapClient client(5);
    std::vector<TargetMessage> messages(1);
    EXPECT_EQ(client.examineKeys("INBOX", messages), C::NotConnected);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(client.selectKeys("INBOX", messages), C::NotConnected);
    EXPECT_EQ(client.storeFlags(1, {"\\Seen"}), C::NotConnected);
}

TEST_F(PipelinedKeys, WithLiteralPlusBothCommandsLeaveBeforeAnyAnswer) {
    greet(true);
    peer.expect("T1 SELECT \"INBOX\"\r\nT2 " + keysFetch)
        .send("* 1 EXISTS\r\nT1 OK [READ-WRITE] done\r\n" + oneMessage + "T2 OK done\r\n");
    start();
    client.startSelectKeys("INBOX");
    // The peer has both commands and has not answered yet.
    peer.waitForSteps(4);
    EXPECT_EQ(peer.connection(0), "T0 LOGIN \"u\" \"p\"\r\nT1 SELECT \"INBOX\"\r\nT2 " + keysFetch);
    std::vector<TargetMessage> messages;
    ASSERT_EQ(client.finishKeys(messages), C::Ok);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].uid, 7u);
    EXPECT_EQ(messages[0].messageId, "<a@x>");
    EXPECT_EQ(peer.wait(), "");
}

TEST_F(PipelinedKeys, WithoutLiteralPlusTheFetchWaitsForTheOpenInTheFinish) {
    greet(false);
    peer.expect("T1 EXAMINE \"INBOX\"\r\n")
        .send("* 1 EXISTS\r\nT1 OK [READ-ONLY] done\r\n")
        .expect("T2 " + keysFetch)
        .send(oneMessage + "T2 OK done\r\n");
    start();
    client.startExamineKeys("INBOX");
    peer.waitForSteps(4);
    EXPECT_EQ(peer.connection(0), "T0 LOGIN \"u\" \"p\"\r\nT1 EXAMINE \"INBOX\"\r\n");
    std::vector<TargetMessage> messages;
    ASSERT_EQ(client.finishKeys(messages), C::Ok);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(peer.wait(), "");
}

TEST_F(PipelinedKeys, ARefusedOpenReadsBothAnswersAndLeavesTheSessionInStep) {
    greet(true);
    peer.expect("T1 SELECT \"Gone\"\r\nT2 " + keysFetch)
        .send("T1 NO no such folder\r\nT2 BAD no folder selected\r\n")
        .expect("T3 SELECT \"Gone\"\r\nT4 " + keysFetch)
        .send("* 0 EXISTS\r\nT3 OK [READ-WRITE] done\r\nT4 OK done\r\n");
    start();
    std::vector<TargetMessage> messages(1);
    client.startSelectKeys("Gone");
    EXPECT_EQ(client.finishKeys(messages), C::SelectFailed);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(client.selectKeys("Gone", messages), C::Ok) << "the next answers are its own";
    EXPECT_EQ(peer.wait(), "");
}

TEST_F(PipelinedKeys, WhatTheStartMetIsTheFinishsResult) {
    greet(true);
    peer.expect("T1 SELECT \"INBOX\"\r\n");
    start();
    std::vector<TargetMessage> messages(1);
    EXPECT_EQ(client.finishKeys(messages), C::FetchFailed) << "nothing started";
    EXPECT_TRUE(messages.empty());
    // A name that is not UTF-8 never goes out.
    client.startSelectKeys("bad \xff name");
    EXPECT_EQ(client.finishKeys(messages), C::SelectFailed);
    EXPECT_EQ(client.finishKeys(messages), C::FetchFailed) << "a start is finished once";
    // A start left unfinished is forgotten by disconnect.
    client.startSelectKeys("INBOX");
    client.disconnect(false);
    EXPECT_EQ(client.finishKeys(messages), C::NotConnected);
    client.startSelectKeys("INBOX");
    EXPECT_EQ(client.finishKeys(messages), C::NotConnected);
    EXPECT_EQ(peer.wait(), "");
}

}  // namespace
