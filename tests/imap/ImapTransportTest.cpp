#include "imap/ImapException.h"
#include "imap/ImapTransport.h"

#include "ScriptedConnection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

// The transport alone: lines, literal data, tags, and when it asks the
// session above it for a new connection.
namespace {

using tarmig::testing::failureText;
using tarmig::testing::ScriptedPeer;

// Connects to the peer, reads its greeting and lets commands through, as a
// session does.
void openTo(ImapTransport& transport, const ScriptedPeer& peer) {
    transport.connect("127.0.0.1", peer.port(), false, 5);
    std::string greeting;
    ASSERT_TRUE(transport.recvGreeting(greeting));
    transport.setOpen(true);
}

void openBare(ImapTransport& transport, ScriptedPeer& peer) {
    peer.start();
    openTo(transport, peer);
}

// A session that opens a new connection to the peer when asked (unless it
// refuses), counting the requests.
class CountingSession : public ImapTransport::Session {
public:
    CountingSession(const ScriptedPeer& peer, bool willing) : peer(peer), willing(willing) {}
    bool reopen() override {
        ++requests;
        if (!willing) return false;
        transport->close();
        openTo(*transport, peer);
        return true;
    }

    const ScriptedPeer& peer;
    bool willing;
    ImapTransport* transport = nullptr;
    int requests = 0;
};

TEST(ImapTransportTest, ReadsLinesAndLiteralData) {
    const std::string data = std::string(10240, 'x') + std::string(10240, 'y') + "tail";
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .send("* line one\r\n" + data + "short")
        .stall(std::chrono::milliseconds(1500))
        .closeConnection();
    ImapTransport transport;
    openBare(transport, peer);
    transport.setTimeout(1);

    std::string line;
    ASSERT_TRUE(transport.recvLine(line));
    EXPECT_EQ(line, "* line one\r\n");
    std::string out = "kept:";
    EXPECT_EQ(transport.recvData(out, static_cast<unsigned>(data.size())), data.size());
    EXPECT_EQ(out, "kept:" + data);
    // Nothing more within the time-out: a line cut short is no line.
    EXPECT_FALSE(transport.timedOut());
    ASSERT_TRUE(transport.recvLine(line));
    EXPECT_EQ(line, "");
    EXPECT_TRUE(transport.timedOut());
    EXPECT_TRUE(transport.streamGood());

    std::string rest;
    peer.waitForSteps(4);
    EXPECT_EQ(transport.recvData(rest, 100), 0u);
}

TEST(ImapTransportTest, RecvDataStopsWhenThePeerCloses) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n").send(std::string(15000, 'z')).closeConnection();
    ImapTransport transport;
    openBare(transport, peer);
    std::string out;
    EXPECT_EQ(transport.recvData(out, 30000), 15000u);
    EXPECT_EQ(out, std::string(15000, 'z'));
}

TEST(ImapTransportTest, WithoutAStream) {
    ImapTransport transport;
    transport.setTimeout(3);
    EXPECT_FALSE(transport.streamGood());
    EXPECT_EQ(transport.getTag(), "T0");
    EXPECT_EQ(transport.getTag(), "T1");
    std::string out;
    EXPECT_EQ(transport.recvData(out, 10), 0u);
    EXPECT_THROW(transport.recvLine(out), ImapConnectionFailed);
    EXPECT_EQ(failureText<ImapConnectionFailed>([&] { transport.send("T2 NOOP\r\n"); }, 3),
              "Send failed");
}

TEST(ImapTransportTest, EndlessLineFailsInsteadOfExhaustingMemory) {
    const std::string endless(17 * 1024 * 1024, 'A');
    ScriptedPeer peer;
    peer.send("* OK ready\r\n").send(endless).stall(std::chrono::milliseconds(2000));
    ImapTransport transport;
    openBare(transport, peer);

    std::string line;
    try {
        transport.recvLine(line);
        ADD_FAILURE() << "a line of " << line.size() << " bytes was accepted";
    } catch (const ImapConnectionFailed& error) {
        EXPECT_STREQ(error.what(), "recvLine failed");
    }
    EXPECT_FALSE(transport.isOpen());
}

// A broken connection met by a whole command: the session opens a new one
// and the same text goes again on it.
TEST(ImapTransportTest, CommandOnABrokenConnectionGoesAgainOnTheSessionsNewOne) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .resetConnection()
        .acceptNext()
        .send("* OK again\r\n")
        .expect("T0 NOOP\r\n");
    CountingSession session(peer, true);
    ImapTransport transport(&session);
    session.transport = &transport;
    openBare(transport, peer);
    peer.waitForSteps(2);

    EXPECT_TRUE(transport.send(transport.getTag() + " NOOP\r\n"));
    EXPECT_EQ(session.requests, 1);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.connection(0), "");
    EXPECT_EQ(peer.connection(1), "T0 NOOP\r\n");
}

// Literal data resent would reach the server as command text, and a new
// connection would lose the answers owed on the old one: the send fails
// without asking the session, as it does when the session cannot.
TEST(ImapTransportTest, BrokenConnectionIsNotReopenedForDataOrUnderAnswersOwed) {
    enum Case { LiteralData, AnswerOwed, SessionRefuses, NoSession };
    for (const Case which : {LiteralData, AnswerOwed, SessionRefuses, NoSession}) {
        ScriptedPeer peer(std::chrono::seconds(1));
        peer.send("* OK ready\r\n").resetConnection().acceptNext();
        CountingSession session(peer, which != SessionRefuses);
        ImapTransport transport(which == NoSession ? nullptr : &session);
        session.transport = &transport;
        openBare(transport, peer);
        peer.waitForSteps(2);
        if (which == AnswerOwed) transport.commandSent();

        const bool atBoundary = which != LiteralData;
        EXPECT_EQ(failureText<ImapConnectionFailed>(
                      [&] { transport.send("T0 NOOP\r\n", atBoundary); }, 3),
                  "Send failed")
            << which;
        EXPECT_EQ(session.requests, which == SessionRefuses ? 1 : 0) << which;
        EXPECT_FALSE(transport.isOpen()) << which;
        // Closing does not settle the answer: it is owed until its command
        // has read it or given it up.
        EXPECT_EQ(transport.answersAwaited(), which == AnswerOwed ? 1u : 0u) << which;
        peer.wait();
        EXPECT_EQ(peer.connectionCount(), 1u) << which;
    }
}

}  // namespace
