#include "imap/Command.h"
#include "imap/CommandQueue.h"
#include "imap/ConnectionInternal.h"
#include "imap/ImapException.h"
#include "ScriptedConnection.h"
#include "TestMessage.h"

#include <gtest/gtest.h>

#include <memory>

// Several commands outstanding on one connection.
namespace {

using tarmig::testing::failureText;
using tarmig::testing::openScripted;
using tarmig::testing::ScriptedPeer;
using tarmig::testing::TestMessage;
using tarmig::testing::userLogin;

std::unique_ptr<Command> started(ConnectionInternal& connection, const std::string& name) {
    auto command = std::make_unique<Command>(connection.transport(), name);
    command->start(nullptr);
    return command;
}

TEST(CommandQueue, AnswersGoToTheirCommandsAndUntaggedToTheOldest) {
    ScriptedPeer peer;
    peer.send("* OK [CAPABILITY IMAP4rev1 LITERAL+] ready\r\n")
        .expect("T0 " + userLogin).send("T0 OK\r\n")
        .expect("T3 NOOP\r\n")
        .send("T2 OK second\r\n* 1 EXISTS\r\n* 2 {3}\r\nabc)\r\nT1 NO first\r\nT3 BAD third\r\n");
    ConnectionInternal connection;
    openScripted(connection, peer, true);
    EXPECT_TRUE(connection.hasLiteralPlus());
    CommandQueue queue(connection.transport());
    for (const char* name : {"CHECK", "NOOP", "NOOP"}) queue.push(started(connection, name));
    EXPECT_EQ(connection.transport().answersAwaited(), 3u);

    auto first = queue.popCompleted();
    EXPECT_EQ(first->getStatus(), Command::NO);
    std::string tagged;
    std::vector<std::string> untagged;
    first->getResponse(tagged, untagged);
    EXPECT_EQ(tagged, "T1 NO first");
    EXPECT_EQ(untagged, (std::vector<std::string>{"* 1 EXISTS", "* 2 {3}\r\nabc)"}));
    EXPECT_EQ(queue.popCompleted()->getStatus(), Command::OK);
    EXPECT_EQ(queue.popCompleted()->getStatus(), Command::BAD);
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(connection.transport().answersAwaited(), 0u);
    connection.close();
    EXPECT_EQ(peer.wait(), "");
}

TEST(CommandQueue, BrokenWriteWithAnswersOwedDoesNotReconnect) {
    // An append's line waits unflushed for its data, so the break shows only
    // when the whole command leaves, with nothing of it sent: the case that
    // would otherwise go again on a new connection.
    for (const bool withMessage : {false, true}) {
        ScriptedPeer peer(std::chrono::seconds(1));
        peer.send("* OK [CAPABILITY IMAP4rev1 LITERAL+] ready\r\n")
            .expect("T0 " + userLogin).send("T0 OK\r\n")
            .expect("T1 NOOP\r\n")
            .resetConnection()
            .acceptNext();
        ConnectionInternal connection;
        openScripted(connection, peer, true);
        CommandQueue queue(connection.transport());
        queue.push(started(connection, "NOOP"));
        peer.waitForSteps(4);
        // A new connection would lose the answer owed for T1 without a word.
        // Whether a bare command line's write itself fails depends on when the
        // reset reaches the socket; reading the owed answer fails either way.
        Command second(connection.transport(), withMessage ? "APPEND" : "NOOP");
        TestMessage message({"hello"});
        try {
            if (withMessage) {
                second.addParam("{5+}\r\n");
                EXPECT_EQ(failureText<ImapConnectionFailed>([&] { second.start(&message); }, 3), "Send failed");
            } else {
                second.start(nullptr);
            }
        } catch (const ImapConnectionFailed&) {
        }
        EXPECT_THROW(queue.popCompleted(), ImapException) << withMessage;
        // The failure reached the command that waited: nothing is owed now.
        EXPECT_EQ(connection.transport().answersAwaited(), 0u) << withMessage;
        peer.wait();
        EXPECT_EQ(peer.connectionCount(), 1u) << withMessage;
        EXPECT_EQ(peer.connection(0), "T0 " + userLogin + "T1 NOOP\r\n") << withMessage;
    }
}

TEST(CommandQueue, GreetingWithoutLiteralPlus) {
    for (const char* greeting : {"* OK ready\r\n", "* OK [CAPABILITY IMAP4rev1 LITERAL-] ready\r\n",
                                 "* OK [CAPABILITY IMAP4rev1] LITERAL+ ready\r\n"}) {
        ScriptedPeer peer;
        peer.send(greeting);
        ConnectionInternal connection;
        openScripted(connection, peer, false);
        EXPECT_FALSE(connection.hasLiteralPlus()) << greeting;
        connection.close();
    }
}

}  // namespace
