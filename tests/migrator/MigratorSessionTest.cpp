#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>

#include "store/CGException.h"
#include "migrator/AccountJob.h"
#include "migrator/Migrator.h"
#include "migrator/SharedRun.h"
#include "store/Folder.h"
#include "store/Mailbox.h"
#include "support/ScriptedPeer.h"
#include "support/StoreBuilder.h"

// The engine's sessions with the target, checked on the wire against a
// scripted server: which failures end the run and how a broken session is
// replaced.
namespace {

using tarmig::testing::ScriptedPeer;

// Greeting and an accepted master login on the current connection.
void masterLogin(ScriptedPeer& peer) {
    peer.send("* OK Vantrel ready\r\n").expect("X-MASTERAUTH\r\n").send("+ <17.42@vantrel>\r\n").expect("\r\n");
}

std::string taggedOk(const std::string& tag) { return tag + " OK done\r\n"; }

// X-CREATEUSER and X-SETUSER of ann@example.com, each answered OK, with the
// tags T<first> and T<first + 1>.
ScriptedPeer& provisionAnn(ScriptedPeer& peer, int first) {
    return peer.expect("X-CREATEUSER")
        .expect("\r\n")
        .send(taggedOk("T" + std::to_string(first)))
        .expect("X-SETUSER \"ann@example.com\"\r\n")
        .send(taggedOk("T" + std::to_string(first + 1)));
}

unsigned closedPort() {
    int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(s);  // nothing listens there any more
    return ntohs(address.sin_port);
}

class Session : public ::testing::Test {
protected:
    std::ostringstream log;
    tarmig::SharedRun run{log};
    tarmig::JobSettings settings;
    std::unique_ptr<tarmig::AccountJob> job;
    tarmig::testing::TempDir reportDir;
    std::string reportPath = reportDir.path() + "/run.pass";

    void SetUp() override {
        run.passwordReport.setPath(reportPath);
        run.output.setQuiet(true);
    }
    // A fresh job on the target at that port.
    tarmig::AccountJob& target(int port, const std::string& master = "master") {
        settings.server = "127.0.0.1";
        settings.port = port;
        settings.masterPassword = master;
        settings.timeoutSeconds = 2;
        job = std::make_unique<tarmig::AccountJob>(settings, run, false);
        return *job;
    }
};

TEST_F(Session, RefusedMasterLoginEndsTheRunWithTheAuthenticationError) {
    ScriptedPeer peer;
    masterLogin(peer);
    peer.send("T0 NO wrong digest\r\n");
    peer.start();
    target(static_cast<int>(peer.port()), "wrong");
    try {
        job->connect(false);
        FAIL() << "no exception";
    } catch (const tarmig::CGNetworkException& e) {
        EXPECT_STREQ(e.what(), "problem with authentication to Vantrel");
    }
    EXPECT_EQ(log.str(), "Error: problem with authentication to Vantrel\n");
    EXPECT_EQ(peer.wait(), "");
}

TEST_F(Session, UnreachableServerEndsTheRunWithTheConnectError) {
    target(static_cast<int>(closedPort()));
    EXPECT_THROW(job->connect(true), tarmig::CGNetworkException);
    EXPECT_EQ(log.str(), "Network error: cannot connect to Vantrel\n");
}

TEST_F(Session, PortOutsideTheTcpRangeIsNotWrappedOntoAnotherPort) {
    ScriptedPeer peer;
    masterLogin(peer);
    peer.start();
    // Both would reach the peer if only the low 16 bits were used.
    for (int port : {static_cast<int>(peer.port()) + 65536, static_cast<int>(peer.port()) - 65536}) {
        EXPECT_THROW(target(port).connect(true), tarmig::CGNetworkException) << port;
    }
    EXPECT_EQ(log.str(),
              "Network error: cannot connect to Vantrel\n"
              "Network error: cannot connect to Vantrel\n");
    EXPECT_EQ(peer.connectionCount(), 0u);
}

TEST_F(Session, SecondConnectKeepsTheSessionAndWarns) {
    ScriptedPeer peer;
    masterLogin(peer);
    peer.send(taggedOk("T0")).expect("LOGOUT\r\n").send("* BYE\r\n").send(taggedOk("T1"));
    peer.start();
    target(static_cast<int>(peer.port()));
    job->connect(false);
    job->connect(false);
    EXPECT_EQ(log.str(), "Warning: client already connected to Vantrel\n");
    job->connect(true);  // a check on an open session does not log out either
    EXPECT_EQ(peer.connectionCount(), 1u);
}

// A message whose data fail after the literal was announced and partly sent.
class BrokenMessage : public IMessage {
public:
    bool getFirstDataPart(std::string& part) override {
        part = "Subject: x\r\n";
        return true;
    }
    bool getNextDataPart(std::string&) override { throw std::runtime_error("disk gone"); }
    std::string getFlags() override { return ""; }
    std::string getDate() override { return ""; }
    std::int64_t getSize() override { return 100; }
    std::int64_t getFixedSize() override { return 100; }
};

TEST_F(Session, MessageFailingInsideItsLiteralContinuesOnAFreshSessionInTheSameAccount) {
    ScriptedPeer peer;
    masterLogin(peer);
    peer.send(taggedOk("T0"));
    provisionAnn(peer, 1)
        .expect("APPEND \"INBOX\" {100+}\r\nSubject: x\r\n")
        .acceptNext();
    masterLogin(peer);
    peer.send(taggedOk("T4")).expect("X-SETUSER \"ann@example.com\"\r\n").send(taggedOk("T5"));
    peer.start();
    target(static_cast<int>(peer.port()));

    std::ostringstream storeLog;
    tarmig::Mailbox mailbox(storeLog);
    mailbox.username = "ann";
    mailbox.domain = "example.com";
    mailbox.password = "pw";
    tarmig::Folder folder(storeLog);
    folder.initialize("INBOX", "/nowhere", tarmig::MailboxMacnt);

    job->connect(false);
    ASSERT_TRUE(job->setUser(mailbox));
    BrokenMessage message;
    try {
        job->appendMessage(folder, message, false);
        FAIL() << "no exception";
    } catch (const tarmig::CGStoreException& e) {
        EXPECT_STREQ(e.what(), "problem with load from IMessage object");
    }
    EXPECT_EQ(peer.wait(), "");
    ASSERT_EQ(peer.connectionCount(), 2u);
    // The second session is not provisioned again: no X-CREATEUSER, one report line.
    EXPECT_EQ(peer.connection(1).find("X-CREATEUSER"), std::string::npos);
    EXPECT_EQ(tarmig::testing::readFile(reportPath), "<ann@example.com>, password: \"pw\"\n");
    EXPECT_NE(log.str().find("Error: problem with load from IMessage object\n"), std::string::npos);
}

TEST_F(Session, AccountWhoseIdentityCannotBeRestoredIsAbandoned) {
    tarmig::testing::TempDir store;
    tarmig::testing::StoreBuilder builder(store.path());
    // "Broken" has no storage file; INBOX would follow it.
    std::string ann = builder.addMacnt("", "ann", tarmig::testing::settingsText({{"Password", "pw"}}),
                                       tarmig::testing::infoText("1", {{"Broken", "", "1", ""}, {"INBOX", "", "1", ""}}));
    tarmig::testing::MboxMessage message;
    message.data = "Subject: x\n\nx\n";
    builder.addMboxFolder(ann, "INBOX", tarmig::testing::mboxText({message}));

    ScriptedPeer peer;
    masterLogin(peer);  // the domain's check
    peer.send(taggedOk("T0")).expect("T1 LOGOUT\r\n").send("* BYE\r\n").send(taggedOk("T1")).acceptNext();
    masterLogin(peer);  // the account's session, on the account's own client
    peer.send(taggedOk("T0"));
    provisionAnn(peer, 1)
        .expect("X-CHECKVERSION\r\n")
        .send("T3 BAD unknown\r\n")
        .expect("SELECT \"Broken\"\r\n")
        .send(taggedOk("T4"))
        .acceptNext();
    masterLogin(peer);  // the replacement session, which the server will not switch
    peer.send(taggedOk("T5")).expect("X-SETUSER \"ann@example.com\"\r\n").send("T6 NO not now\r\n");
    peer.start();

    tarmig::Migrator migrator(log, 2);
    migrator.passwordReport().setPath(reportPath);
    migrator.initialize(store.path(), "127.0.0.1", static_cast<int>(peer.port()), "master", true, false, "", "", true,
                        true);
    migrator.migrateAll("*", "*", "example.com");
    EXPECT_EQ(peer.wait(), "");
    ASSERT_EQ(peer.connectionCount(), 3u);
    // Nothing is done in the master's context once the identity is lost.
    EXPECT_EQ(peer.connection(2).find("SELECT"), std::string::npos);
    EXPECT_EQ(peer.connection(2).find("APPEND"), std::string::npos);
    EXPECT_EQ(peer.connection(2).find("CREATE "), std::string::npos);
    std::string text = log.str();
    EXPECT_NE(text.find("Error: problem with identity switching\n"), std::string::npos);
    EXPECT_NE(text.find("Error: cannot migrate folder \"Broken\"\n"), std::string::npos);
    EXPECT_NE(text.find("Error: cannot migrate mailbox <ann>\n"), std::string::npos);
    EXPECT_EQ(text.find("\"INBOX\", messages"), std::string::npos);
    EXPECT_FALSE(migrator.succeeded());
}

}  // namespace
