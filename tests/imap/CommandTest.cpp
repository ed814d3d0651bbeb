#include "imap/Command.h"
#include "imap/ConnectionInternal.h"
#include "imap/ImapException.h"

#include "TestMessage.h"
#include "ScriptedConnection.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using tarmig::testing::openScripted;
using tarmig::testing::ScriptedPeer;
using tarmig::testing::TestMessage;

// Runs the command, which must fail with Failure and this error code; returns
// the failure's text.
template <class Failure>
std::string failure(Command& command, long errorCode, IMessage* message = nullptr) {
    return tarmig::testing::failureText<Failure>([&] { command.execute(message); }, errorCode);
}

// The append must fail as a message load failure with this text and leave the
// connection closed; the next command then opens a new connection.
void expectLoadFailureThenNewConnection(ConnectionInternal& connection, ScriptedPeer& peer,
                                        Command& append, IMessage& message,
                                        const std::string& text) {
    EXPECT_EQ(failure<IMessageLoadFailedException>(append, 9, &message), text);
    EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);

    Command next(connection.transport(), "NOOP");
    EXPECT_EQ(next.execute(nullptr), Command::OK);
    connection.close();
    EXPECT_EQ(peer.wait(), "");
}

struct Outcome {
    Command::Response status;
    std::string tagged;
    std::vector<std::string> untagged;
};

Outcome run(Command& command, IMessage* message = nullptr) {
    Outcome outcome;
    outcome.status = command.execute(message);
    command.getResponse(outcome.tagged, outcome.untagged);
    return outcome;
}

TEST(CommandTest, CollectsUntaggedResponsesUntilItsTag) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 NOOP\r\n")
        .send("* 3 EXISTS\r\n* OK * BYE is not at the start\r\n* NO warning\r\nT0 OK done\r\n")
        .expectClosed();
    {
        ConnectionInternal connection;
        openScripted(connection, peer, false);
        Command command(connection.transport(), "NOOP");
        const Outcome outcome = run(command);
        EXPECT_EQ(outcome.status, Command::OK);
        EXPECT_EQ(outcome.tagged, "T0 OK done");
        EXPECT_EQ(outcome.untagged,
                  (std::vector<std::string>{"* 3 EXISTS", "* OK * BYE is not at the start",
                                            "* NO warning"}));
    }
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received(), "T0 NOOP\r\n");
}

TEST(CommandTest, CompletionStatuses) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 CREATE \"x\"\r\n").send("T0 NO [TRYCREATE] no such folder\r\n")
        .expect("T1 X\r\n").send("T1 BAD what\r\n")
        .expect("T2 X\r\n").send("T2 WHAT is this\r\n")
        .expect("T3 X\r\n").send("T3\r\n")
        .expect("T4 X\r\n").send("T4NO glued\r\nT4 OK\r\n");
    ConnectionInternal connection;
    openScripted(connection, peer, false);

    Command create(connection.transport(), "CREATE");
    create.addParamString("x");
    const Outcome refused = run(create);
    EXPECT_EQ(refused.status, Command::NO);
    EXPECT_EQ(refused.tagged, "T0 NO [TRYCREATE] no such folder");

    Command bad(connection.transport(), "X");
    EXPECT_EQ(run(bad).status, Command::BAD);
    // A status word other than OK, NO and BAD never counts as success.
    Command unknown(connection.transport(), "X");
    EXPECT_EQ(run(unknown).status, Command::BAD);
    Command bare(connection.transport(), "X");
    EXPECT_EQ(run(bare).status, Command::BAD);
    // T4NO is not T4's completion.
    Command glued(connection.transport(), "X");
    const Outcome outcome = run(glued);
    EXPECT_EQ(outcome.status, Command::OK);
    EXPECT_EQ(outcome.untagged, std::vector<std::string>{"T4NO glued"});
    EXPECT_EQ(peer.wait(), "");
}

TEST(CommandTest, LaterTagsAreNotTakenForEarlierOnes) {
    // A leftover completion of T10 reaches T1... only if tags were compared as bare prefixes.
    ConnectionInternal connection;
    for (int i = 0; i < 2; ++i) {
        connection.transport().getTag();
    }
    Command command(connection.transport(), "NOOP");
    ASSERT_EQ(command.getTag(), "T2");
    Command::Response result = Command::BAD;
    EXPECT_FALSE(command.isTaggedResponse("T20 OK done\r\n", result));
    EXPECT_TRUE(command.isTaggedResponse("T2 OKAY\r\n", result));
    EXPECT_EQ(result, Command::OK);
    EXPECT_TRUE(command.isTaggedResponse("T2   NO x\r\n", result));
    EXPECT_EQ(result, Command::NO);
}

TEST(CommandTest, LiteralsAreReadRawAndJoinedWithTheirLine) {
    const std::string body = "a)b\r\n{9}\r\nT0 OK";  // looks like more protocol, but is data
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 FETCH 1 BODY[]\r\n")
        .send("* 1 FETCH (BODY[] {" + std::to_string(body.size()) + "}\r\n" + body +
              " FLAGS {2}\r\n\\S)\r\n* 2 EXISTS\r\nT0 OK\r\n");
    ConnectionInternal connection;
    openScripted(connection, peer, false);
    Command fetch(connection.transport(), "FETCH");
    fetch.addParam(1u);
    fetch.addParam("BODY[]");
    const Outcome outcome = run(fetch);
    EXPECT_EQ(outcome.status, Command::OK);
    ASSERT_EQ(outcome.untagged.size(), 2u);
    EXPECT_EQ(outcome.untagged[0], "* 1 FETCH (BODY[] {" + std::to_string(body.size()) +
                                       "}\r\n" + body + " FLAGS {2}\r\n\\S)");
    EXPECT_EQ(outcome.untagged[1], "* 2 EXISTS");
    EXPECT_EQ(peer.wait(), "");
}

TEST(CommandTest, LiteralAnnouncement) {
    unsigned int length = 0;
    EXPECT_FALSE(Command::isWholeResponse("* 1 FETCH (BODY[] {12}\r\n", length));
    EXPECT_EQ(length, 12u);
    EXPECT_FALSE(Command::isWholeResponse("{1} x {7+}\r\n", length));
    EXPECT_EQ(length, 7u);
    EXPECT_FALSE(Command::isWholeResponse("{99999999999}\r\n", length));
    EXPECT_EQ(length, 4294967295u);
    EXPECT_TRUE(Command::isWholeResponse("* OK {12}\n", length));
    EXPECT_TRUE(Command::isWholeResponse("}\r", length));
    EXPECT_TRUE(Command::isWholeResponse("T1 OK\r\n", length));
}

TEST(CommandTest, RemoveEOL) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\r\n", "a"}, {"a\n\n", "a\n"}, {"a\r", "a"}, {"\r\r\n", "\r"}, {"", ""},
    };
    for (const auto& [text, expected] : cases) {
        std::string trimmed = text;
        Command::removeEOL(trimmed);
        EXPECT_EQ(trimmed, expected);
    }
}

TEST(CommandTest, UntaggedByeEndsTheCommand) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 NOOP\r\n")
        .send("* 1 EXISTS\r\n* BYE shutting down\r\nT0 OK\r\n");
    ConnectionInternal connection;
    openScripted(connection, peer, false);
    Command command(connection.transport(), "NOOP");
    EXPECT_EQ(failure<ImapServerBrokeConnection>(command, 3), "");
    EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
    EXPECT_EQ(peer.wait(), "");
}

TEST(CommandTest, StalledServerTimesOut) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n").expect("T0 NOOP\r\n").stall(std::chrono::seconds(4));
    ConnectionInternal connection;
    openScripted(connection, peer, false);
    connection.transport().setTimeout(1);
    Command command(connection.transport(), "NOOP");
    EXPECT_EQ(failure<ImapTimeoutException>(command, 3), "");
}

TEST(CommandTest, StreamEndingInsideLiteralFailsTheConnection) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 FETCH\r\n")
        .send("* 1 FETCH (BODY[] {100}\r\nonly this")
        .closeConnection();
    ConnectionInternal connection;
    openScripted(connection, peer, false);
    Command command(connection.transport(), "FETCH");
    EXPECT_NE(failure<ImapConnectionFailed>(command, 3), "no exception");
    EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
    EXPECT_EQ(peer.wait(), "");
}

TEST(CommandTest, HostileLiteralCountReservesNoMemoryUpFront) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 FETCH\r\n")
        .send("* 1 FETCH (BODY[] {4000000000}\r\nabc")
        .stall(std::chrono::seconds(2));
    ConnectionInternal connection;
    openScripted(connection, peer, false);
    connection.transport().setTimeout(1);
    Command command(connection.transport(), "FETCH");
    EXPECT_THROW(command.execute(nullptr), ImapTimeoutException);
}

TEST(CommandTest, StreamsMessageLiteralAfterTheCommandLine) {
    const std::string first(65535, 'a');
    const std::string second = std::string(65535, 'b') + "\r\n";
    const std::string last = "end";
    const std::size_t total = first.size() + second.size() + last.size();
    const std::string line = "T0 APPEND \"INBOX\" {" + std::to_string(total) + "+}\r\n";

    ScriptedPeer peer;
    peer.send("* OK ready\r\n").expect(line).readBytes(total).expect("\r\n").send("T0 OK\r\n");
    ConnectionInternal connection;
    openScripted(connection, peer, false);
    TestMessage message({first, second, last});
    Command append(connection.transport(), "APPEND");
    append.addParamString("INBOX");
    append.addParam("{" + std::to_string(message.getFixedSize()) + "+}\r\n");
    EXPECT_EQ(append.execute(&message), Command::OK);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received(), line + first + second + last + "\r\n");
}

TEST(CommandTest, FailingMessageSourceClosesTheConnection) {
    // The server is inside the literal: whatever came next would become message data.
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 LOGIN \"u\" \"p\"\r\n").send("T0 OK\r\n")
        .expect("{6+}\r\npart1").expectClosed()
        .acceptNext()
        .send("* OK again\r\n")
        .expect("T3 LOGIN \"u\" \"p\"\r\n").send("T3 OK\r\n")
        .expect("T2 NOOP\r\n").send("T2 OK\r\n");
    ConnectionInternal connection;
    openScripted(connection, peer, true);

    TestMessage message({"part1", "!"});
    message.beforePart = [](std::size_t index) {
        if (index == 1) {
            throw std::runtime_error("message cannot be read");
        }
    };
    Command append(connection.transport(), "APPEND");
    append.addParam("{6+}\r\n");
    expectLoadFailureThenNewConnection(connection, peer, append, message,
                                       "message cannot be read");
    EXPECT_EQ(peer.connection(0), "T0 LOGIN \"u\" \"p\"\r\nT1 APPEND {6+}\r\npart1");
}

// A source whose data disagree with the length it announced.
struct MisannouncedMessage : TestMessage {
    MisannouncedMessage(std::vector<std::string> parts, std::int64_t announced)
        : TestMessage(std::move(parts)), announced(announced) {}
    std::int64_t getFixedSize() override { return announced; }
    std::int64_t announced;
};

TEST(CommandTest, DataThatDisagreeWithTheAnnouncedLengthNeverReachTheServer) {
    for (const auto& [announced, text] : {std::pair<std::int64_t, std::string>{6, "message data longer than announced"},
                                          std::pair<std::int64_t, std::string>{9, "message data shorter than announced"}}) {
        const std::string line = "T1 APPEND {" + std::to_string(announced) + "+}\r\n";
        ScriptedPeer peer;
        peer.send("* OK ready\r\n")
            .expect("T0 LOGIN \"u\" \"p\"\r\n").send("T0 OK\r\n")
            .expectClosed()
            .acceptNext()
            .send("* OK again\r\n")
            .expect("T3 LOGIN \"u\" \"p\"\r\n").send("T3 OK\r\n")
            .expect("T2 NOOP\r\n").send("T2 OK\r\n");
        ConnectionInternal connection;
        openScripted(connection, peer, true);

        MisannouncedMessage message({"part1", "ab"}, announced);
        Command append(connection.transport(), "APPEND");
        append.addParam("{" + std::to_string(announced) + "+}\r\n");
        expectLoadFailureThenNewConnection(connection, peer, append, message, text);
        // Only parts within the announced length left, and never the final line end.
        EXPECT_EQ(peer.connection(0), "T0 LOGIN \"u\" \"p\"\r\n" + line + (announced == 9 ? "part1ab" : "part1"));
    }
}

TEST(CommandTest, FailedLiteralWriteIsNeverReplayed) {
    // The first part is too large to wait in the stream's buffer, so the
    // command line leaves with it. The second is more than the socket buffers
    // hold, so its write meets the reset even when the reset reaches the
    // client late.
    const std::string first(64 * 1024, 'f');
    const std::string part(16 * 1024 * 1024, 'm');
    const std::string announcement = "{" + std::to_string(first.size() + part.size()) + "+}\r\n";
    const std::string line = "T1 APPEND \"INBOX\" " + announcement;
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 LOGIN \"u\" \"p\"\r\n").send("T0 OK\r\n")
        .expect(line).resetConnection()
        .acceptNext()
        .send("* OK again\r\n")
        .expect("T3 LOGIN \"u\" \"p\"\r\n").send("T3 OK\r\n")
        .expect("T2 NOOP\r\n").send("T2 OK\r\n");
    ConnectionInternal connection;
    openScripted(connection, peer, true);

    TestMessage message({first, part});
    // The second part is produced only once the server has dropped the connection.
    message.beforePart = [&peer](std::size_t index) {
        if (index == 1) {
            peer.waitForSteps(4);
        }
    };
    Command append(connection.transport(), "APPEND");
    append.addParamString("INBOX");
    append.addParam(announcement);
    // The next command starts a new connection; the message data never follows.
    expectLoadFailureThenNewConnection(connection, peer, append, message, "Send failed");
    EXPECT_EQ(peer.connection(1), "T3 LOGIN \"u\" \"p\"\r\nT2 NOOP\r\n");
}

TEST(CommandTest, AppendOnAConnectionResetWhileIdleIsSentWholeOnANewOne) {
    // The command line waits for the data, so the broken connection shows only
    // when they are sent; nothing of the command had left, so it goes again
    // whole, the message read from its start.
    const std::string line = "T1 APPEND \"INBOX\" {11+}\r\n";
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 LOGIN \"u\" \"p\"\r\n").send("T0 OK\r\n")
        .resetConnection()
        .acceptNext()
        .send("* OK again\r\n")
        .expect("T2 LOGIN \"u\" \"p\"\r\n").send("T2 OK\r\n")
        .expect(line + "hello world\r\n").send("T1 OK\r\n");
    ConnectionInternal connection;
    openScripted(connection, peer, true);
    peer.waitForSteps(4);

    TestMessage message({"hello", " world"});
    Command append(connection.transport(), "APPEND");
    append.addParamString("INBOX");
    append.addParam("{11+}\r\n");
    EXPECT_EQ(append.execute(&message), Command::OK);
    connection.close();
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.connection(1), "T2 LOGIN \"u\" \"p\"\r\n" + line + "hello world\r\n");
}

}  // namespace
