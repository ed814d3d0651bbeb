#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestMessage.h"
#include "imap/FetchMessage.h"
#include "imap/SimpleImapClient.h"
#include "support/VantrelServer.h"

// The client facade against the Vantrel test server, a second implementation
// of the server side written from the protocol rather than from this client.
namespace {

using namespace tarmig::testing;
using Result = SimpleImapClient::ImapClientResult;

const std::string kHost = "127.0.0.1";
const std::string kDate = "20-Feb-2004 12:34:56 +0000";

std::string readBody(FetchMessage& message) {
    std::string body, part;
    for (bool more = message.getFirstDataPart(part); more; more = message.getNextDataPart(part)) body += part;
    return body;
}

TEST(VantrelFacade, ProvisionsFillsListsAndReadsBackAnAccount) {
    VantrelServer server;
    SimpleImapClient client(10);
    ASSERT_EQ(Result::Ok, client.connect(kHost, server.port(), "master", 0));
    EXPECT_TRUE(client.isXAppendSupported());
    ASSERT_EQ(Result::Ok, client.createUser("ann", "sales", "p\"w\\", "Ann Lee"));
    EXPECT_EQ(Result::CreateUserFailed, client.createUser("ann", "sales", "x", ""));
    EXPECT_EQ(Result::SetUserFailed, client.setUser("nobody", "sales"));
    ASSERT_EQ(Result::Ok, client.setUser("ann", "sales"));

    EXPECT_EQ(Result::SelectFailed, client.select("Contacts"));
    EXPECT_EQ(Result::Ok, client.createFolder("Contacts/Work", SimpleImapClient::FolderContact));
    EXPECT_EQ(Result::Ok, client.createFolder("Notes", SimpleImapClient::FolderNote));
    EXPECT_EQ(Result::Ok, client.createFolder("Plain", SimpleImapClient::FolderNone));
    EXPECT_EQ(Result::CreateFolderFailed, client.createFolder("Notes", SimpleImapClient::FolderNote));

    std::string body = std::string("Subject: one\r\n\r\nSOH ") + '\x01' + " and \xff\r\n";
    TestMessage first({body.substr(0, 7), body.substr(7)}, "\\Seen \\Flagged ", kDate);
    TestMessage second({"Subject: two\r\n\r\n"}, "", "");
    EXPECT_EQ(Result::Ok, client.append("INBOX", &first, true));
    EXPECT_EQ(Result::Ok, client.append("INBOX", &second, false));
    EXPECT_EQ(Result::AppendFailed, client.append("Missing", &second, false));

    std::vector<std::string> names;
    ASSERT_EQ(Result::Ok, client.list(names));
    EXPECT_EQ((std::vector<std::string>{"INBOX", "Contacts/Work", "Notes", "Plain"}), names)
        << "the implied parent Contacts is not selectable";
    unsigned count = 99;
    ASSERT_EQ(Result::Ok, client.status("INBOX", count));
    EXPECT_EQ(2u, count);

    ASSERT_EQ(Result::Ok, client.select("INBOX"));
    FetchMessage fetched;
    ASSERT_EQ(Result::Ok, client.fetch(1, fetched));
    EXPECT_EQ(kDate, fetched.getDate());
    EXPECT_EQ(static_cast<std::int64_t>(body.size()), fetched.getSize());
    EXPECT_EQ(body, readBody(fetched));
    client.disconnect(true);

    server.stop();
    VantrelDump dump = server.dump();
    const VantrelAccount* ann = dump.account("ann", "sales");
    ASSERT_NE(nullptr, ann);
    EXPECT_EQ("p\"w\\", ann->password);
    EXPECT_EQ("Ann Lee", ann->fullName);
    ASSERT_NE(nullptr, ann->folder("Contacts/Work"));
    EXPECT_EQ("X-CONTACT", ann->folder("Contacts/Work")->type);
    EXPECT_EQ("X-NOTE", ann->folder("Notes")->type);
    EXPECT_EQ("", ann->folder("Plain")->type);
    const auto& inbox = ann->folder("INBOX")->messages;
    ASSERT_EQ(2u, inbox.size());
    EXPECT_EQ(body, inbox[0].data);
    EXPECT_EQ((std::vector<std::string>{"\\Seen", "\\Flagged"}), inbox[0].flags);
    EXPECT_EQ(kDate, inbox[0].date);
    EXPECT_EQ("X-APPEND", inbox[0].via);
    EXPECT_EQ("APPEND", inbox[1].via);
    EXPECT_EQ("", inbox[1].date);
}

TEST(VantrelFacade, CopiesAFolderBetweenTwoConnections) {
    VantrelServerOptions options;
    options.arguments = {"--account", "src@a:pw1", "--account", "dst@b:pw2"};
    VantrelServer server(options);
    SimpleImapClient source(10);
    ASSERT_EQ(Result::Ok, source.connect(kHost, server.port(), "src@a", "pw1", true)) << "CRAM-MD5";
    TestMessage one({"one\r\n"}, "\\Seen ", kDate);
    TestMessage two({"two\r\n", "2\r\n"}, "\\Answered \\Draft ", "01-Mar-2005 01:02:03 +0000");
    ASSERT_EQ(Result::Ok, source.append("INBOX", &one, false));
    ASSERT_EQ(Result::Ok, source.append("INBOX", &two, false));
    ASSERT_EQ(Result::Ok, source.select("INBOX"));

    SimpleImapClient target(10);
    ASSERT_EQ(Result::Ok, target.connect(kHost, server.port(), "dst@b", "pw2", false)) << "LOGIN";
    unsigned copied = 0, failed = 0;
    EXPECT_EQ(Result::Ok, source.copyFolder("INBOX", target, copied, failed, nullptr, nullptr, false, 0));
    EXPECT_EQ(2u, copied);
    EXPECT_EQ(0u, failed);
    source.disconnect(true);
    target.disconnect(true);

    VantrelDump dump = server.dump();
    const VantrelAccount* dst = dump.account("dst", "b");
    ASSERT_NE(nullptr, dst);
    const auto& copies = dst->folder("INBOX")->messages;
    ASSERT_EQ(2u, copies.size());
    EXPECT_EQ("one\r\n", copies[0].data);
    EXPECT_EQ(kDate, copies[0].date);
    EXPECT_EQ((std::vector<std::string>{"\\Seen"}), copies[0].flags);
    EXPECT_EQ("two\r\n2\r\n", copies[1].data);
    EXPECT_EQ("01-Mar-2005 01:02:03 +0000", copies[1].date);
}

TEST(VantrelFacade, OlderVersionBadMasterPasswordAndByeGreeting) {
    VantrelServerOptions options;
    options.arguments = {"--server-version", "6.2.9"};
    VantrelServer old(options);
    SimpleImapClient client(10);
    EXPECT_EQ(Result::AuthenticationFailed, client.connect(kHost, old.port(), "wrong", 0));
    ASSERT_EQ(Result::Ok, client.connect(kHost, old.port(), "master", 0));
    EXPECT_FALSE(client.isXAppendSupported());
    client.disconnect(true);

    VantrelServerOptions byeOptions;
    byeOptions.arguments = {"--greeting", "* BYE too busy"};
    VantrelServer bye(byeOptions);
    std::string greeting = "unchanged";
    EXPECT_FALSE(client.testImapServer(kHost, bye.port(), greeting));
    EXPECT_EQ("unchanged", greeting);
    EXPECT_TRUE(client.testImapServer(kHost, old.port(), greeting));
    EXPECT_EQ(0u, greeting.rfind("* OK", 0));
}

}  // namespace
