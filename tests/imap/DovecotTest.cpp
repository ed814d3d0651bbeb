// The client against a real IMAP server: a private Dovecot on loopback.
#include "imap/FetchMessage.h"
#include "imap/SimpleImapClient.h"
#include "support/DovecotServer.h"
#include "TestMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <memory>

using tarmig::testing::DovecotOptions;
using tarmig::testing::DovecotServer;
using tarmig::testing::TestMessage;
using tarmig::testing::dovecotInstalled;
using C = SimpleImapClient;

namespace {

const char* const notInstalled = "Dovecot is not installed (/usr/sbin/dovecot); install dovecot-imapd";

// Reads a fetched message's whole body through its data parts.
std::string readBody(FetchMessage& message) {
    std::string data, part;
    for (bool more = message.getFirstDataPart(part); more; more = message.getNextDataPart(part))
        data += part;
    return data;
}

class DovecotTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!dovecotInstalled()) return;
        DovecotOptions options;
        options.users = {{"ann", "secret"}, {"bob", "b0b pass"}, {"carol", "c"},
                         {"dave", "d"}, {"erin", "e"}, {"gina", "g"}};
        options.masterUsers = {{"admin", "master pw"}};
        server = std::make_unique<DovecotServer>(options);
        if (!server->start(startError)) server.reset();
    }
    static void TearDownTestSuite() { server.reset(); }

    void SetUp() override {
        if (!dovecotInstalled()) GTEST_SKIP() << notInstalled;
        ASSERT_TRUE(server) << startError;
    }

    C::ImapClientResult login(SimpleImapClient& client, const std::string& user,
                              const std::string& password, bool cramMD5 = false) {
        return client.connect("127.0.0.1", server->port(), user, password, cramMD5);
    }

    static std::unique_ptr<DovecotServer> server;
    static std::string startError;
};

std::unique_ptr<DovecotServer> DovecotTest::server;
std::string DovecotTest::startError;

}  // namespace

TEST_F(DovecotTest, LoginCramMD5MasterUserAndWrongPassword) {
    SimpleImapClient login1(10), cram(10), wrong(10), wrongCram(10);
    EXPECT_EQ(login(login1, "bob", "b0b pass"), C::Ok);
    EXPECT_EQ(login(cram, "bob", "b0b pass", true), C::Ok);
    EXPECT_EQ(login(wrong, "bob", "nope"), C::AuthenticationFailed);
    EXPECT_EQ(login(wrongCram, "bob", "nope", true), C::AuthenticationFailed);
    SimpleImapClient master(10);
    EXPECT_EQ(login(master, "bob*admin", "master pw"), C::Ok);
    master.disconnect(true);
    std::vector<std::string> names;
    EXPECT_EQ(cram.list(names), C::Ok);
    EXPECT_EQ(wrong.list(names), C::NotConnected);
    login1.disconnect(true);
    cram.disconnect(true);
}

TEST_F(DovecotTest, ProbeAndFolderCommands) {
    SimpleImapClient client(10);
    std::string greeting;
    EXPECT_TRUE(client.testImapServer("127.0.0.1", server->port(), greeting));
    EXPECT_TRUE(greeting.starts_with("* OK ")) << greeting;
    ASSERT_EQ(login(client, "carol", "c"), C::Ok);
    // Dovecot answers the version probe with BAD and stays usable.
    EXPECT_FALSE(client.isXAppendSupported());
    EXPECT_EQ(client.createFolder("Projects/2024", C::FolderNone), C::Ok);
    EXPECT_EQ(client.createFolder("Sent Items", C::FolderNone), C::Ok);
    EXPECT_EQ(client.createFolder("Sent Items", C::FolderNone), C::CreateFolderFailed);
    // Dovecot does not know the typed form.
    EXPECT_EQ(client.createFolder("Contacts", C::FolderContact), C::CreateFolderFailed);
    EXPECT_EQ(client.select("Projects/2024"), C::Ok);
    EXPECT_EQ(client.select("Missing"), C::SelectFailed);
    std::vector<std::string> names;
    ASSERT_EQ(client.list(names), C::Ok);
    std::sort(names.begin(), names.end());
    // "Projects" exists only as a \Noselect parent and is left out.
    EXPECT_EQ(names, (std::vector<std::string>{"INBOX", "Projects/2024", "Sent Items"}));
    unsigned count = 99;
    EXPECT_EQ(client.status("Sent Items", count), C::Ok);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(client.status("Missing", count), C::StatusFailed);
    client.disconnect(true);
}

TEST_F(DovecotTest, AppendedMessagesReadBackExactly) {
    SimpleImapClient client(10);
    ASSERT_EQ(login(client, "dave", "d"), C::Ok);
    ASSERT_EQ(client.createFolder("Archive", C::FolderNone), C::Ok);
    std::string bytes = "Subject: t\xc3\xa9st\r\nFrom: a@b\r\n\r\nline one\r\n";
    std::string body = bytes + std::string(30000, 'z') + "\r\n.\r\nend\r\n";
    TestMessage first({bytes, std::string(30000, 'z'), "\r\n.\r\nend\r\n"}, "\\Seen \\Flagged ",
                      "20-Feb-2004 12:34:56 +0000");
    TestMessage second({"Subject: 2\r\n\r\nx\r\n"}, "", "");
    EXPECT_EQ(client.append("Archive", &first, false), C::Ok);
    EXPECT_EQ(client.append("Archive", &second, false), C::Ok);
    EXPECT_EQ(client.append("NoSuchFolder", &second, false), C::AppendFailed);
    unsigned count = 0;
    ASSERT_EQ(client.status("Archive", count), C::Ok);
    EXPECT_EQ(count, 2u);

    ASSERT_EQ(client.select("Archive"), C::Ok);
    FetchMessage message;
    ASSERT_EQ(client.fetch(1, message), C::Ok);
    EXPECT_EQ(message.getDate(), "20-Feb-2004 12:34:56 +0000");
    EXPECT_EQ(message.getFlags(), "\\Seen \\Flagged");
    EXPECT_EQ(message.getSize(), static_cast<std::int64_t>(body.size()));
    EXPECT_EQ(readBody(message), body);
    ASSERT_EQ(client.fetch(2, message), C::Ok);
    EXPECT_EQ(message.getFlags(), "");
    EXPECT_EQ(readBody(message), "Subject: 2\r\n\r\nx\r\n");
    EXPECT_EQ(client.fetch(3, message), C::FetchFailed);
    client.disconnect(true);
}

TEST_F(DovecotTest, CopyFolderBetweenAccounts) {
    SimpleImapClient source(10), target(10);
    ASSERT_EQ(login(source, "ann", "secret"), C::Ok);
    ASSERT_EQ(login(target, "erin", "e"), C::Ok);
    ASSERT_EQ(source.createFolder("Outbox", C::FolderNone), C::Ok);
    ASSERT_EQ(target.createFolder("Copied", C::FolderNone), C::Ok);
    const unsigned total = 25;
    for (unsigned i = 0; i < total; ++i) {
        TestMessage m({"Subject: " + std::to_string(i) + "\r\n\r\n" + std::string(i * 1000, 'b') + "\r\n"},
                      i % 2 ? "\\Answered " : "", "0" + std::to_string(1 + i % 9) + "-Mar-2010 10:00:00 +0000");
        ASSERT_EQ(source.append("Outbox", &m, false), C::Ok);
    }
    ASSERT_EQ(source.select("Outbox"), C::Ok);
    unsigned copied = 0, failed = 0;
    EXPECT_EQ(source.copyFolder("Copied", target, copied, failed, nullptr, nullptr, false, total),
              C::Ok);
    EXPECT_EQ(copied, total);
    EXPECT_EQ(failed, 0u);
    unsigned count = 0;
    ASSERT_EQ(target.status("Copied", count), C::Ok);
    EXPECT_EQ(count, total);

    ASSERT_EQ(target.select("Copied"), C::Ok);
    FetchMessage message;
    ASSERT_EQ(target.fetch(8, message), C::Ok);
    EXPECT_EQ(message.getDate(), "08-Mar-2010 10:00:00 +0000");
    EXPECT_EQ(message.getFlags(), "\\Answered");
    EXPECT_EQ(readBody(message), "Subject: 7\r\n\r\n" + std::string(7000, 'b') + "\r\n");

    // The source connection is usable again after the copy's completion.
    std::vector<std::string> names;
    EXPECT_EQ(source.list(names), C::Ok);
    source.disconnect(true);
    target.disconnect(true);
}

TEST_F(DovecotTest, AppendThroughputIsReported) {
    SimpleImapClient client(30);
    ASSERT_EQ(login(client, "bob", "b0b pass"), C::Ok);
    ASSERT_EQ(client.createFolder("Bulk", C::FolderNone), C::Ok);
    const unsigned messages = 1000;
    TestMessage message({"From: a@b\r\nSubject: bulk\r\n\r\n", std::string(600, 'm') + "\r\n"},
                        "\\Seen ", "20-Feb-2004 12:34:56 +0000");
    auto started = std::chrono::steady_clock::now();
    unsigned appended = 0;
    for (unsigned i = 0; i < messages; ++i)
        if (client.append("Bulk", &message, false) == C::Ok) ++appended;
    std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(appended, messages);
    std::cout << "[ figures  ] appended " << appended << " small messages into Dovecot in "
              << seconds.count() << " s: " << static_cast<long>(appended / seconds.count())
              << " messages/s\n";
    unsigned count = 0;
    EXPECT_EQ(client.status("Bulk", count), C::Ok);
    EXPECT_EQ(count, messages);
    client.disconnect(true);
}

TEST(DovecotTls, SelfSignedCertificateNeedsVerificationOff) {
    if (!dovecotInstalled()) GTEST_SKIP() << notInstalled;
    DovecotOptions options;
    options.users = {{"ann", "secret"}};
    options.tls = true;
    DovecotServer server(options);
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;

    SimpleImapClient verifying(10);
    verifying.setTls(true, true);
    EXPECT_EQ(verifying.connect("127.0.0.1", server.port(), "ann", "secret", false),
              C::ConnectionError);

    SimpleImapClient trusting(10);
    trusting.setTls(true, false);
    ASSERT_EQ(trusting.connect("127.0.0.1", server.port(), "ann", "secret", true), C::Ok);
    ASSERT_EQ(trusting.createFolder("Secure", C::FolderNone), C::Ok);
    TestMessage message({"Subject: tls\r\n\r\nover TLS\r\n"}, "\\Draft ", "");
    EXPECT_EQ(trusting.append("Secure", &message, false), C::Ok);
    ASSERT_EQ(trusting.select("Secure"), C::Ok);
    FetchMessage fetched;
    ASSERT_EQ(trusting.fetch(1, fetched), C::Ok);
    EXPECT_EQ(fetched.getFlags(), "\\Draft");
    EXPECT_EQ(readBody(fetched), "Subject: tls\r\n\r\nover TLS\r\n");
    // A part larger than the output buffer goes out on its own after the
    // pending command line and header.
    std::string body;
    while (body.size() < 100000) body += "line " + std::to_string(body.size()) + " over TLS\r\n";
    TestMessage large({"Subject: large\r\n\r\n", body});
    EXPECT_EQ(trusting.append("Secure", &large, false), C::Ok);
    ASSERT_EQ(trusting.select("Secure"), C::Ok);
    FetchMessage second;
    ASSERT_EQ(trusting.fetch(2, second), C::Ok);
    EXPECT_EQ(readBody(second), "Subject: large\r\n\r\n" + body);
    trusting.disconnect(true);

    // Without TLS the server's TLS port gives no greeting.
    SimpleImapClient plain(2);
    EXPECT_EQ(plain.connect("127.0.0.1", server.port(), "ann", "secret", false), C::ConnectionError);
}

// A real server reads a literal wherever a mailbox name goes: a name with a
// line break is one argument (refused or kept as the server likes), never
// a second command.
TEST_F(DovecotTest, MailboxNamesWithLineBreaksStayOneArgument) {
    SimpleImapClient client(10);
    ASSERT_EQ(login(client, "gina", "g"), C::Ok);
    const std::string name = "a\r\nT90 CREATE injected\r\nT91 NOOP";
    client.createFolder(name, C::FolderNone);
    client.select(name);
    TestMessage message({"Subject: x\r\n\r\nx\r\n"});
    client.append(name, &message, false);
    // Still in step: the next commands get their own answers.
    EXPECT_EQ(client.createFolder("plain", C::FolderNone), C::Ok);
    EXPECT_EQ(client.select("plain"), C::Ok);
    std::vector<std::string> names;
    ASSERT_EQ(client.list(names), C::Ok);
    EXPECT_EQ(std::count(names.begin(), names.end(), "injected"), 0);
    EXPECT_EQ(std::count(names.begin(), names.end(), "plain"), 1);
    client.disconnect(true);
}
