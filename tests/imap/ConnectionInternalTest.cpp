#include "imap/Command.h"
#include "imap/CommandXSetUser.h"
#include "imap/ConnectionInternal.h"
#include "imap/ImapException.h"

#include "ScriptedConnection.h"

#include <gtest/gtest.h>

namespace {

using tarmig::testing::ScriptedPeer;
using tarmig::testing::configure;
using tarmig::testing::openScripted;

const std::string& login = tarmig::testing::userLogin;

std::string connectionFailure(ConnectionInternal& connection, bool withLogin) {
    return tarmig::testing::initFailure<ImapConnectionFailed>(connection, withLogin, 3);
}

TEST(ConnectionInternalTest, GreetingsThatRefuse) {
    for (const std::string greeting : {"* BYE go away\r\n", "* OK hi, * BYE soon\r\n", "\n"}) {
        ScriptedPeer peer;
        peer.send(greeting).expectClosed();
        peer.start();
        ConnectionInternal connection;
        configure(connection, peer);
        std::string expected = greeting.substr(0, greeting.size() - 1);
        EXPECT_EQ(connectionFailure(connection, true), expected);
        EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
        EXPECT_EQ(peer.wait(), "");
        EXPECT_EQ(peer.received(), "");
    }

    ScriptedPeer silent;
    silent.closeConnection();
    silent.start();
    ConnectionInternal connection;
    configure(connection, silent);
    EXPECT_EQ(connectionFailure(connection, true), "");
}

TEST(ConnectionInternalTest, UnreachableServers) {
    ConnectionInternal connection;
    connection.initialize(std::string(70, 'a') + ".invalid", 143, "u", "p", false, 5, false);
    EXPECT_EQ(connectionFailure(connection, true), "");

    connection.initialize("127.0.0.1", ScriptedPeer::closedPort(), "u", "p", false, 5, false);
    EXPECT_EQ(connectionFailure(connection, true), "");
    EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
    EXPECT_FALSE(connection.transport().streamGood());
}

TEST(ConnectionInternalTest, PreauthGreetingStillLogsIn) {
    ScriptedPeer peer;
    peer.send("* PREAUTH already in\r\n").expect("T0 " + login).send("T0 OK\r\n");
    ConnectionInternal connection;
    openScripted(connection, peer, true);
    EXPECT_EQ(connection.getGreeting(), "* PREAUTH already in\r");
    EXPECT_EQ(connection.getState(), ConnectionInternal::Authenticated);
    connection.close();
    EXPECT_EQ(peer.wait(), "");
}

TEST(ConnectionInternalTest, DestructorLogsOutOnlyWhenLoggedIn) {
    ScriptedPeer plain;
    plain.send("* OK ready\r\n").expectClosed();
    {
        ConnectionInternal connection;
        openScripted(connection, plain, false);
        EXPECT_EQ(connection.getState(), ConnectionInternal::Connected);
        EXPECT_EQ(connection.getGreeting(), "* OK ready\r");
    }
    EXPECT_EQ(plain.wait(), "");
    EXPECT_EQ(plain.received(), "");

    ScriptedPeer loggedIn;
    loggedIn.send("* OK ready\r\n")
        .expect("T0 " + login).send("T0 OK\r\n")
        .expect("T1 LOGOUT\r\n").send("* BYE bye\r\nT1 OK\r\n")
        .expectClosed();
    {
        ConnectionInternal connection;
        openScripted(connection, loggedIn, true);
    }
    EXPECT_EQ(loggedIn.wait(), "");
}

TEST(ConnectionInternalTest, LogoutAcceptsTheServersBye) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 " + login).send("T0 OK\r\n")
        .expect("T1 LOGOUT\r\n").send("* BYE logging out\r\nT1 OK\r\n")
        .expectClosed();
    ConnectionInternal connection;
    openScripted(connection, peer, true);
    connection.logout();
    EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
    connection.close();
    EXPECT_EQ(peer.wait(), "");
}

TEST(ConnectionInternalTest, StateTransitions) {
    using State = ConnectionInternal::State;
    const State states[] = {ConnectionInternal::Disconnected, ConnectionInternal::Connected,
                            ConnectionInternal::Authenticated, ConnectionInternal::Selected};
    // allowed[from][to]
    const bool allowed[4][4] = {
        {false, true, false, false},
        {true, false, true, false},
        {true, true, false, true},
        {true, false, true, false},
    };
    for (int from = 0; from < 4; ++from) {
        for (int to = 0; to < 4; ++to) {
            ConnectionInternal connection;
            for (int step = 1; step <= from; ++step) {
                connection.setState(states[step]);
            }
            ASSERT_EQ(connection.getState(), states[from]);
            connection.setState(states[to]);
            EXPECT_EQ(connection.getState(), allowed[from][to] ? states[to] : states[from])
                << from << " -> " << to;
        }
    }
}


TEST(ConnectionInternalTest, CapabilitiesAreAskedOnce) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 CAPABILITY\r\n")
        .send("* CAPABILITY IMAP4rev1 LITERAL+ X-MASTERAUTH\r\nT0 OK\r\n")
        .expectClosed();
    {
        ConnectionInternal connection;
        openScripted(connection, peer, false);
        const std::vector<std::string> expected{"IMAP4rev1", "LITERAL+", "X-MASTERAUTH"};
        EXPECT_EQ(connection.getCapability(), expected);
        EXPECT_EQ(connection.getCapability(), expected);
    }
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received(), "T0 CAPABILITY\r\n");

    ScriptedPeer empty;
    empty.send("* OK ready\r\n").expect("T0 CAPABILITY\r\n").send("T0 OK\r\n");
    ConnectionInternal connection;
    openScripted(connection, empty, false);
    EXPECT_THROW(connection.getCapability(), ImapConnectionFailed);
}

TEST(ConnectionInternalTest, FailedWriteReconnectsAndResendsWithTagsContinuing) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 " + login).send("T0 OK\r\n")
        .resetConnection()
        .acceptNext()
        .send("* OK again\r\n")
        .expect("T2 " + login).send("T2 OK\r\n")
        .expect("T1 NOOP\r\n").send("T1 OK\r\n")
        .expect("T3 NOOP\r\n").send("T3 OK\r\n");
    ConnectionInternal connection;
    openScripted(connection, peer, true);
    peer.waitForSteps(4);

    Command first(connection.transport(), "NOOP");
    EXPECT_EQ(first.execute(nullptr), Command::OK);
    Command second(connection.transport(), "NOOP");
    EXPECT_EQ(second.execute(nullptr), Command::OK);
    EXPECT_EQ(connection.getState(), ConnectionInternal::Authenticated);
    connection.close();
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.connection(0), "T0 " + login);
    EXPECT_EQ(peer.connection(1), "T2 " + login + "T1 NOOP\r\nT3 NOOP\r\n");
}

// Logs in and switches to ann@sales, then drops the connection; the reconnect
// logs in again (T3) and switches back (T4), whose reply the test adds.
void scriptSwitchThenDrop(ScriptedPeer& peer) {
    peer.send("* OK ready\r\n")
        .expect("T0 " + login).send("T0 OK\r\n")
        .expect("T1 X-SETUSER \"ann@sales\"\r\n").send("T1 OK\r\n")
        .resetConnection()
        .acceptNext()
        .send("* OK again\r\n")
        .expect("T3 " + login).send("T3 OK\r\n")
        .expect("T4 X-SETUSER \"ann@sales\"\r\n");
}

// Opens the connection, switches to ann@sales and waits until the server dropped it.
void switchAndWaitForDrop(ConnectionInternal& connection, ScriptedPeer& peer) {
    openScripted(connection, peer, true);
    CommandXSetUser setUser(connection.transport(), "ann@sales");
    ASSERT_EQ(connection.setUser(setUser), Command::OK);
    peer.waitForSteps(6);
}

TEST(ConnectionInternalTest, ReconnectSwitchesBackToTheAccount) {
    ScriptedPeer peer;
    scriptSwitchThenDrop(peer);
    peer.send("T4 OK\r\n").expect("T2 CREATE \"Sent\"\r\n").send("T2 OK\r\n");
    ConnectionInternal connection;
    switchAndWaitForDrop(connection, peer);

    Command create(connection.transport(), "CREATE");
    create.addParamString("Sent");
    EXPECT_EQ(create.execute(nullptr), Command::OK);
    connection.close();
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.connection(1), "T3 " + login + "T4 X-SETUSER \"ann@sales\"\r\nT2 CREATE \"Sent\"\r\n");
}

TEST(ConnectionInternalTest, AccountThatCannotBeRestoredFailsTheSend) {
    ScriptedPeer peer;
    scriptSwitchThenDrop(peer);
    peer.send("T4 NO gone\r\n").expectClosed();
    ConnectionInternal connection;
    switchAndWaitForDrop(connection, peer);

    Command create(connection.transport(), "CREATE");
    create.addParamString("Sent");
    try {
        create.execute(nullptr);
        FAIL() << "no exception";
    } catch (const ImapConnectionFailed& error) {
        EXPECT_STREQ(error.what(), "Send failed");
    }
    EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.connection(1), "T3 " + login + "T4 X-SETUSER \"ann@sales\"\r\n");
}

// The reopening itself finds the connection broken: that ends it, rather
// than opening yet another connection from inside the first.
TEST(ConnectionInternalTest, ConnectionBrokenWhileReopeningIsNotReopenedAgain) {
    ScriptedPeer peer(std::chrono::seconds(1));
    peer.send("* OK ready\r\n")
        .expect("T0 " + login).send("T0 OK\r\n")
        .expect("T1 X-SETUSER \"ann@sales\"\r\n").send("T1 OK\r\n")
        .resetConnection()
        .acceptNext()
        .send("* OK again\r\n")
        .expect("T3 " + login).send("T3 OK\r\n")
        .resetConnection()
        .acceptNext();
    ConnectionInternal connection;
    switchAndWaitForDrop(connection, peer);

    Command create(connection.transport(), "CREATE");
    create.addParamString("Sent");
    EXPECT_EQ(tarmig::testing::failureText<ImapConnectionFailed>(
                  [&] { create.execute(nullptr); }, 3),
              "Send failed");
    EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
    peer.wait();
    EXPECT_EQ(peer.connectionCount(), 2u);
}

TEST(ConnectionInternalTest, NewSessionForgetsTheAccount) {
    ScriptedPeer peer;
    peer.send("* OK ready\r\n")
        .expect("T0 " + login).send("T0 OK\r\n")
        .expect("T1 X-SETUSER \"ann@sales\"\r\n").send("T1 OK\r\n")
        .acceptNext()
        .send("* OK second session\r\n")
        .expect("T2 " + login).send("T2 OK\r\n")
        .resetConnection()
        .acceptNext()
        .send("* OK again\r\n")
        .expect("T4 " + login).send("T4 OK\r\n")
        .expect("T3 NOOP\r\n").send("T3 OK\r\n");
    ConnectionInternal connection;
    openScripted(connection, peer, true);
    CommandXSetUser setUser(connection.transport(), "ann@sales");
    ASSERT_EQ(connection.setUser(setUser), Command::OK);
    connection.close();
    connection.init(true);
    peer.waitForSteps(10);

    Command noop(connection.transport(), "NOOP");
    EXPECT_EQ(noop.execute(nullptr), Command::OK);
    connection.close();
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.connection(2), "T4 " + login + "T3 NOOP\r\n");
}

TEST(ConnectionInternalTest, EndlessGreetingFailsInsteadOfExhaustingMemory) {
    const std::string endless(17 * 1024 * 1024, 'A');
    ScriptedPeer endlessGreeting;
    endlessGreeting.send("* OK " + endless + "\r\n").expectClosed();
    endlessGreeting.start();
    ConnectionInternal greeted;
    configure(greeted, endlessGreeting);
    EXPECT_EQ(connectionFailure(greeted, false), "");
    EXPECT_EQ(greeted.getState(), ConnectionInternal::Disconnected);
    EXPECT_EQ(endlessGreeting.wait(), "");
}

}  // namespace
