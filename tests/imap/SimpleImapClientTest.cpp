#include "ScriptedClient.h"
#include "TestMessage.h"
#include "imap/FetchMessage.h"

using tarmig::testing::ScriptedClientTest;
using tarmig::testing::ScriptedPeer;
using tarmig::testing::TestMessage;
using C = SimpleImapClient;

TEST(SimpleImapClient, EveryOperationBeforeConnectIsNotConnected) {
    SimpleImapClient client(5);
    TestMessage message({"x"}, "", "");
    FetchMessage fetched;
    std::vector<std::string> names;
    unsigned count = 7, copied = 3, failed = 4;
    EXPECT_EQ(client.createUser("a", "b", "c", "d"), C::NotConnected);
    EXPECT_EQ(client.setUser("a", "b"), C::NotConnected);
    EXPECT_EQ(client.createFolder("a", C::FolderMail), C::NotConnected);
    EXPECT_EQ(client.select("a"), C::NotConnected);
    EXPECT_EQ(client.list(names), C::NotConnected);
    EXPECT_EQ(client.status("a", count), C::NotConnected);
    EXPECT_EQ(count, 7u);
    EXPECT_EQ(client.append("a", &message, false), C::NotConnected);
    EXPECT_EQ(client.fetch(1, fetched), C::NotConnected);
    SimpleImapClient target(5);
    EXPECT_EQ(client.copyFolder("a", target, copied, failed, nullptr, nullptr, false, 0),
              C::NotConnected);
    EXPECT_EQ(copied, 0u);
    EXPECT_EQ(failed, 0u);
    EXPECT_FALSE(client.isXAppendSupported());
    client.disconnect(true);
}

TEST(SimpleImapClient, UnresolvableHostIsConnectionError) {
    SimpleImapClient client(5);
    // Not a valid host name, so the resolver fails without asking a name server.
    EXPECT_EQ(client.connect("bad host name", 143, "master", 0), C::ConnectionError);
    EXPECT_EQ(client.select("INBOX"), C::NotConnected);
}

TEST(SimpleImapClient, RefusedLoginIsAuthenticationFailedAndRetryable) {
    ScriptedPeer peer(std::chrono::seconds(5));
    peer.send("* OK ready\r\n").expect("T0 LOGIN \"u\" \"bad\"\r\n").send("T0 NO wrong\r\n")
        .acceptNext().send("* OK ready\r\n").expect("T1 LOGIN \"u\" \"p\"\r\n").send("T1 OK\r\n");
    peer.start();
    SimpleImapClient client(5);
    EXPECT_EQ(client.connect("127.0.0.1", peer.port(), "u", "bad", false), C::AuthenticationFailed);
    EXPECT_EQ(client.connect("127.0.0.1", peer.port(), "u", "p", false), C::Ok);
    EXPECT_EQ(peer.wait(), "");
    client.disconnect(false);
}

using FacadeWire = ScriptedClientTest;

TEST_F(FacadeWire, SecondConnectIsAlreadyConnectedWithoutReconnecting) {
    start();
    EXPECT_EQ(client.connect("127.0.0.1", peer.port(), "u", "p", false), C::AlreadyConnected);
    EXPECT_EQ(client.connect("127.0.0.1", peer.port(), "master", 0), C::AlreadyConnected);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.connectionCount(), 1u);
}

TEST_F(FacadeWire, DisconnectSendsLogoutOnlyWhenAsked) {
    // Tags are never reused, so the second login's tag tells whether a LOGOUT went out.
    peer.acceptNext().send("* OK ready\r\n").expect("T1 LOGIN \"u\" \"p\"\r\n").send("T1 OK\r\n")
        .expect("T2 LOGOUT\r\n").send("* BYE bye\r\nT2 OK\r\n");
    start();
    client.disconnect(false);
    EXPECT_EQ(client.select("INBOX"), C::NotConnected);
    ASSERT_EQ(client.connect("127.0.0.1", peer.port(), "u", "p", false), C::Ok);
    client.disconnect(true);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.connection(1), "T1 LOGIN \"u\" \"p\"\r\nT2 LOGOUT\r\n");
}

TEST_F(FacadeWire, ByeDuringACommandIsConnectionError) {
    peer.expect("T1 SELECT").expect("\r\n").send("* BYE shutting down\r\n");
    start();
    EXPECT_EQ(client.select("INBOX"), C::ConnectionError);
    EXPECT_EQ(peer.wait(), "");
}

TEST(SimpleImapClient, SilentServerIsConnectionErrorAfterTheTimeout) {
    ScriptedPeer peer(std::chrono::seconds(5));
    peer.send("* OK ready\r\n").expect("T0 LOGIN").expect("\r\n").send("T0 OK\r\n")
        .expect("T1 STATUS").expect("\r\n").stall(std::chrono::milliseconds(1500));
    peer.start();
    SimpleImapClient client(1);
    ASSERT_EQ(client.connect("127.0.0.1", peer.port(), "u", "p", false), C::Ok);
    unsigned count = 0;
    EXPECT_EQ(client.status("INBOX", count), C::ConnectionError);
    client.disconnect(false);
    EXPECT_EQ(peer.wait(), "");
}

namespace {

// The facade's answer to one X-CHECKVERSION completion line.
bool probeVersion(const std::string& completion) {
    ScriptedPeer peer(std::chrono::seconds(5));
    peer.send("* OK ready\r\n").expect("T0 LOGIN").expect("\r\n").send("T0 OK\r\n")
        .expect("T1 X-CHECKVERSION\r\n").send(completion + "\r\n");
    peer.start();
    SimpleImapClient client(5);
    EXPECT_EQ(client.connect("127.0.0.1", peer.port(), "u", "p", false), C::Ok);
    bool supported = client.isXAppendSupported();
    EXPECT_EQ(peer.wait(), "");
    client.disconnect(false);
    return supported;
}

}  // namespace

TEST(SimpleImapClient, XAppendFromVersion63On) {
    for (const char* version : {"6.3.0", "6.10.2", "7.0.0"}) {
        SCOPED_TRACE(version);
        EXPECT_TRUE(probeVersion(std::string("T1 OK Vantrel ") + version));
    }
    for (const char* version : {"6.2.9", "5.9.1", "7.1"}) {
        SCOPED_TRACE(version);
        EXPECT_FALSE(probeVersion(std::string("T1 OK Vantrel ") + version));
    }
    EXPECT_TRUE(probeVersion("T1 NO version 6.4.1"));
    EXPECT_FALSE(probeVersion("T1 BAD unknown command 7.0.0"));
}

TEST(SimpleImapClient, TestImapServerOpensWithoutLogin) {
    ScriptedPeer bye(std::chrono::seconds(5));
    bye.send("* BYE too busy\r\n");
    bye.start();
    SimpleImapClient client(5);
    std::string greeting = "unchanged";
    EXPECT_FALSE(client.testImapServer("127.0.0.1", bye.port(), greeting));
    EXPECT_EQ(greeting, "unchanged");
    EXPECT_EQ(bye.wait(), "");

    ScriptedPeer ok(std::chrono::seconds(5));
    ok.send("* OK [CAPABILITY IMAP4rev1] ready\r\n");
    ok.start();
    EXPECT_TRUE(client.testImapServer("127.0.0.1", ok.port(), greeting));
    EXPECT_EQ(greeting, "* OK [CAPABILITY IMAP4rev1] ready\r");
    EXPECT_EQ(ok.wait(), "");
    EXPECT_EQ(ok.received(), "");
    EXPECT_EQ(client.select("INBOX"), C::NotConnected);
}

TEST(SimpleImapClient, ParseTaggedResponse) {
    EXPECT_EQ(C::parseTaggedResponse("A OK done\r\n"), C::Ok);
    EXPECT_EQ(C::parseTaggedResponse("A ok\r\n"), C::Ok);
    EXPECT_EQ(C::parseTaggedResponse("A NO failed\r\n"), C::FetchFailed);
    EXPECT_EQ(C::parseTaggedResponse("A OKAY\r\n"), C::FetchFailed);
    EXPECT_EQ(C::parseTaggedResponse(""), C::FetchFailed);
}
