#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ScriptedClient.h"
#include "imap/SimpleImapClient.h"
#include "imap/TargetMessage.h"

// The target's keys read in two halves: what the start sends leaves before
// any answer is read, so the caller can work in between.
namespace {

using tarmig::testing::ScriptedPeer;
using C = SimpleImapClient;

const std::string keysFetch =
    "UID FETCH 1:* (UID FLAGS INTERNALDATE RFC822.SIZE BODY.PEEK[HEADER.FIELDS (MESSAGE-ID)])\r\n";
const std::string oneMessage =
    "* 1 FETCH (UID 7 FLAGS (\\Seen) INTERNALDATE \"20-Feb-2004 12:34:56 +0000\" RFC822.SIZE 40 "
    "BODY[HEADER.FIELDS (MESSAGE-ID)] {21}\r\nMessage-ID: <a@x>\r\n\r\n)\r\n";

class TargetKeysHalves : public ::testing::Test {
protected:
    // Three steps: greeting, LOGIN, its answer.
    void greet(bool literalPlus) {
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

TEST_F(TargetKeysHalves, WithLiteralPlusBothCommandsLeaveBeforeAnyAnswer) {
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

TEST_F(TargetKeysHalves, WithoutLiteralPlusTheFetchWaitsForTheOpenInTheFinish) {
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

TEST_F(TargetKeysHalves, ARefusedOpenReadsBothAnswersAndLeavesTheSessionInStep) {
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

TEST_F(TargetKeysHalves, WhatTheStartMetIsTheFinishsResult) {
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
