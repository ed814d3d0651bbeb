#include "imap/Command.h"
#include "imap/ConnectionInternal.h"
#include "imap/ImapException.h"

#include "ScriptedConnection.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

// A server that keeps sending, but never the whole answer in time, must not
// hold a command beyond the receive time-out. Each script below completes
// its answer after about three seconds, with no pause as long as the
// one-second time-out, so waiting per read alone would accept it.
namespace {

using namespace std::chrono_literals;
using tarmig::testing::openScripted;
using tarmig::testing::ScriptedPeer;

// Sends text a few bytes at a time, a pause after each piece.
void trickle(ScriptedPeer& peer, const std::string& text, std::size_t piece,
             std::chrono::milliseconds pause) {
    for (std::size_t at = 0; at < text.size(); at += piece) {
        peer.send(text.substr(at, piece)).stall(pause);
    }
}

// Runs NOOP on a connection opened (without login) to the peer with a
// one-second time-out; it must time out and leave the connection closed.
void expectNoopTimesOut(ScriptedPeer& peer) {
    ConnectionInternal connection;
    openScripted(connection, peer, false);
    connection.transport().setTimeout(1);
    Command command(connection.transport(), "NOOP");
    EXPECT_THROW(command.execute(nullptr), ImapTimeoutException);
    EXPECT_TRUE(connection.transport().timedOut());
    EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
    // Closed at once: no LOGOUT that would wait for this server again.
    connection.logout();
}

TEST(AnswerDeadlineTest, TrickledTaggedLine) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n").expect("T0 NOOP\r\n");
    trickle(peer, "T0 OK NOOP completed\r\n", 2, 300ms);
    expectNoopTimesOut(peer);
    peer.wait();
    EXPECT_EQ(peer.received(), "T0 NOOP\r\n");
}

TEST(AnswerDeadlineTest, UntaggedLinesWithoutEnd) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n").expect("T0 NOOP\r\n");
    for (int i = 0; i < 15; ++i) {
        peer.send("* OK still working\r\n").stall(200ms);
    }
    peer.send("T0 OK\r\n");
    expectNoopTimesOut(peer);
    peer.wait();
    EXPECT_EQ(peer.received(), "T0 NOOP\r\n");
}

TEST(AnswerDeadlineTest, TrickledLiteral) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n").expect("T0 NOOP\r\n").send("* 1 FETCH (BODY[] {12}\r\n");
    trickle(peer, "abcdefghijkl)\r\nT0 OK\r\n", 1, 200ms);
    expectNoopTimesOut(peer);
}

TEST(AnswerDeadlineTest, EachCommandHasAFullTimeout) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n");
    for (const char* tag : {"T0", "T1", "T2"}) {
        peer.expect(std::string(tag) + " NOOP\r\n").stall(600ms).send(std::string(tag) + " OK\r\n");
    }
    peer.expectClosed();
    ConnectionInternal connection;
    openScripted(connection, peer, false);
    connection.transport().setTimeout(1);
    for (int i = 0; i < 3; ++i) {
        Command command(connection.transport(), "NOOP");
        EXPECT_EQ(command.execute(nullptr), Command::OK) << i;
    }
    EXPECT_FALSE(connection.transport().timedOut());
    connection.close();
    EXPECT_EQ(peer.wait(), "");
}

TEST(AnswerDeadlineTest, TrickledGreetingFailsTheConnection) {
    ScriptedPeer peer;
    trickle(peer, "* OK ready at last\r\n", 2, 300ms);
    peer.start();
    ConnectionInternal connection;
    connection.initialize("127.0.0.1", peer.port(), "u", "p", false, 1, false);
    EXPECT_THROW(connection.init(false), ImapConnectionFailed);
    EXPECT_TRUE(connection.transport().timedOut());
    EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
}

// A time-out ends the session where it stands: the facade's disconnect and
// the destructor send nothing more, so the run does not wait a second time.
TEST(AnswerDeadlineTest, NothingIsSentAfterATimeout) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 " + tarmig::testing::userLogin)
        .send("T0 OK\r\n")
        .expect("T1 NOOP\r\n")
        .stall(1500ms)
        .expectClosed();
    {
        ConnectionInternal connection;
        openScripted(connection, peer, true);
        connection.transport().setTimeout(1);
        Command command(connection.transport(), "NOOP");
        EXPECT_THROW(command.execute(nullptr), ImapTimeoutException);
        connection.logout();
    }
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received(), "T0 " + tarmig::testing::userLogin + "T1 NOOP\r\n");
}

}  // namespace
