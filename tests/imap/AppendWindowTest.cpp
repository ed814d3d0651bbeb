#include "imap/SimpleImapClient.h"
#include "support/ScriptedPeer.h"
#include "TestMessage.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

// Appends sent ahead of their answers on one connection, against a scripted
// server that announces LITERAL+ in its greeting.
namespace {

using tarmig::testing::ScriptedPeer;
using tarmig::testing::TestMessage;

const std::string loginLine = "T0 LOGIN \"u\" \"p\"\r\n";

std::string appendLine(int tag, const std::string& body) {
    return "T" + std::to_string(tag) + " APPEND \"INBOX\" {" + std::to_string(body.size()) + "+}\r\n" +
           body + "\r\n";
}

std::string body(int n) { return "Subject: " + std::to_string(n) + "\r\n\r\nx\r\n"; }

class AppendWindow : public ::testing::Test {
protected:
    void greet(const std::string& greeting = "* OK [CAPABILITY IMAP4rev1 LITERAL+] ready\r\n") {
        peer.send(greeting).expect(loginLine).send("T0 OK logged in\r\n");
    }
    void start(unsigned window) {
        peer.start();
        client.setAppendWindow(window);
        ASSERT_EQ(client.connect("127.0.0.1", peer.port(), "u", "p", false), SimpleImapClient::Ok);
    }
    void TearDown() override { client.disconnect(false); }
    SimpleImapClient::ImapClientResult send(int n) {
        messages.emplace_back(std::vector<std::string>{body(n)});
        return client.sendAppend("INBOX", &messages.back(), false);
    }
    std::string sentAfterLogin() {
        EXPECT_EQ(peer.wait(), "");
        return peer.connection(0).substr(loginLine.size());
    }

    ScriptedPeer peer{std::chrono::seconds(5)};
    SimpleImapClient client{5};
    std::deque<TestMessage> messages;
};

TEST_F(AppendWindow, AppendsLeaveBeforeAnswersAndResultsComeInOrder) {
    greet();
    // The server answers nothing until the third append is whole: the client
    // must have sent it without waiting. A NO in the middle stays with its message.
    peer.expect(appendLine(3, body(3)))
        .send("T1 OK [APPENDUID 1 1] done\r\nT2 NO over quota\r\nT3 OK done\r\n")
        .expect(appendLine(4, body(4)))
        .send("T4 OK done\r\n");
    start(3);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_FALSE(client.appendWindowFull()) << n;
        EXPECT_EQ(send(n), SimpleImapClient::Ok);
    }
    EXPECT_TRUE(client.appendWindowFull());
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::Ok);
    EXPECT_FALSE(client.appendWindowFull());
    EXPECT_EQ(send(4), SimpleImapClient::Ok);
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::AppendFailed);
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::Ok);
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::Ok);
    EXPECT_EQ(client.appendsInFlight(), 0u);
    EXPECT_EQ(sentAfterLogin(), appendLine(1, body(1)) + appendLine(2, body(2)) + appendLine(3, body(3)) +
                                    appendLine(4, body(4)));
}

TEST_F(AppendWindow, LateAnswersAreMatchedByTag) {
    greet();
    // The second answer comes first, with untagged lines around and a tag
    // that only starts like the first one's.
    peer.expect(appendLine(2, body(2)))
        .stall(std::chrono::milliseconds(200))
        .send("* 3 EXISTS\r\nT2 NO second\r\nT10 OK nobody's\r\n* 1 RECENT\r\nT1 OK first\r\n");
    start(4);
    EXPECT_EQ(send(1), SimpleImapClient::Ok);
    EXPECT_EQ(send(2), SimpleImapClient::Ok);
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::Ok);
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::AppendFailed);
    EXPECT_EQ(sentAfterLogin(), appendLine(1, body(1)) + appendLine(2, body(2)));
}

TEST_F(AppendWindow, WithoutLiteralPlusEachAnswerIsAwaited) {
    greet("* OK [CAPABILITY IMAP4rev1] ready\r\n");
    peer.expect(appendLine(1, body(1))).send("T1 OK\r\n");
    start(8);
    EXPECT_EQ(send(1), SimpleImapClient::Ok);
    EXPECT_TRUE(client.appendWindowFull());
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::Ok);
}

TEST_F(AppendWindow, DataInFlightIsBoundedInBytes) {
    greet();
    const std::string big(SimpleImapClient::maxAppendBytesInFlight, 'a');
    peer.expect(big + "\r\n").send("T1 OK\r\n");
    start(32);
    TestMessage message({big});
    EXPECT_EQ(client.sendAppend("INBOX", &message, false), SimpleImapClient::Ok);
    EXPECT_TRUE(client.appendWindowFull());
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::Ok);
    EXPECT_FALSE(client.appendWindowFull());
}

TEST_F(AppendWindow, ConnectionDyingWithAppendsInFlightFailsEachUnanswered) {
    greet();
    peer.expect(appendLine(3, body(3))).send("T1 OK\r\n").closeConnection();
    start(8);
    for (int n = 1; n <= 3; ++n) EXPECT_EQ(send(n), SimpleImapClient::Ok);
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::Ok);
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::ConnectionError);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.connectionCount(), 1u);
}

TEST_F(AppendWindow, ConnectionBrokenUnderAppendsInFlightIsNotReopenedForTheNextAppend) {
    greet();
    // The server takes two appends and resets the connection without an
    // answer. The third append must not go on a new connection: its answer
    // would come there, the two owed never.
    peer.expect(appendLine(2, body(2)))
        .resetConnection()
        .acceptNext()
        .send("* OK [CAPABILITY IMAP4rev1 LITERAL+] again\r\n")
        .expect("T5 LOGIN \"u\" \"p\"\r\n").send("T5 OK\r\n")
        .expect(appendLine(4, body(4))).send("T4 OK\r\n");
    start(8);
    EXPECT_EQ(send(1), SimpleImapClient::Ok);
    EXPECT_EQ(send(2), SimpleImapClient::Ok);
    peer.waitForSteps(5);
    EXPECT_EQ(send(3), SimpleImapClient::ConnectionError);
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::ConnectionError);
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::ConnectionError);
    // Answered from the broken connection, not by waiting out the time-out.
    EXPECT_FALSE(client.timedOut());
    EXPECT_EQ(client.appendsInFlight(), 0u);
    // With nothing owed any more, the next append may open a new connection.
    EXPECT_EQ(send(4), SimpleImapClient::Ok);
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::Ok);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.connection(0), loginLine + appendLine(1, body(1)) + appendLine(2, body(2)));
    EXPECT_EQ(peer.connection(1), "T5 LOGIN \"u\" \"p\"\r\n" + appendLine(4, body(4)));
}

TEST_F(AppendWindow, SourceFailingInItsLiteralLeavesEarlierAnswersReadable) {
    greet();
    peer.expect(appendLine(2, body(2)) + "T3 APPEND")
        .send("T1 OK\r\nT2 NO refused\r\n");
    start(8);
    EXPECT_EQ(send(1), SimpleImapClient::Ok);
    EXPECT_EQ(send(2), SimpleImapClient::Ok);
    TestMessage failing({"Subject: 3\r\n", "\r\nx\r\n"});
    failing.failAtPart(1);
    EXPECT_EQ(client.sendAppend("INBOX", &failing, false), SimpleImapClient::MessageLoadFailed);
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::Ok);
    EXPECT_EQ(client.collectAppend(), SimpleImapClient::AppendFailed);
    // The server is inside the cut literal: nothing more may follow it.
    EXPECT_EQ(send(4), SimpleImapClient::ConnectionError);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.connectionCount(), 1u);
    EXPECT_EQ(peer.connection(0).substr(loginLine.size()),
              appendLine(1, body(1)) + appendLine(2, body(2)) + "T3 APPEND \"INBOX\" {17+}\r\nSubject: 3\r\n");
}

}  // namespace
