#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestMessage.h"
#include "imap/SimpleImapClient.h"
#include "imap/TargetMessage.h"
#include "support/VantrelServer.h"

// Reading a folder's message keys and setting flags against the Vantrel
// test server.
namespace {

using namespace tarmig::testing;
using Result = SimpleImapClient::ImapClientResult;

const std::string kHost = "127.0.0.1";
const std::string kDate = "20-Feb-2004 12:34:56 +0000";

void provision(SimpleImapClient& client, const VantrelServer& server) {
    ASSERT_EQ(Result::Ok, client.connect(kHost, server.port(), server.masterPassword(), 0));
    ASSERT_EQ(Result::Ok, client.createUser("ann", "sales", "pw", ""));
    ASSERT_EQ(Result::Ok, client.setUser("ann", "sales"));
}

TEST(VantrelTargetKeys, KeysOfEveryMessageAndFlagsSetOnlyWhenSelected) {
    VantrelServer server;
    SimpleImapClient client(10);
    provision(client, server);
    TestMessage folded({"Subject: a\r\nmessage-id:\r\n <fold@x>\r\n\r\nMessage-ID: <body@x>\r\n"}, "\\Seen ", kDate);
    TestMessage twice({"Message-ID: <first@x>\r\nMessage-ID: <second@x>\r\n\r\n"}, "\\Answered \\Draft ", kDate);
    TestMessage none({"Subject: no id\r\n\r\nbody\r\n"}, "", "");
    for (TestMessage* m : {&folded, &twice, &none}) ASSERT_EQ(Result::Ok, client.append("INBOX", m, true));

    std::vector<TargetMessage> keys;
    ASSERT_EQ(Result::Ok, client.examineKeys("INBOX", keys));
    ASSERT_EQ(3u, keys.size());
    EXPECT_EQ((std::vector<std::uint32_t>{1, 2, 3}), (std::vector<std::uint32_t>{keys[0].uid, keys[1].uid, keys[2].uid}));
    EXPECT_EQ("<fold@x>", keys[0].messageId);
    EXPECT_EQ("<first@x>", keys[1].messageId);
    EXPECT_FALSE(keys[2].messageId);
    EXPECT_EQ((std::vector<std::string>{"\\Answered", "\\Draft"}), keys[1].flags);
    EXPECT_EQ(kDate, keys[0].internalDate);
    ASSERT_TRUE(keys[0].arrival);
    EXPECT_EQ(1077280496, *keys[0].arrival);
    EXPECT_TRUE(keys[2].arrival) << "the server's own time for a message sent without a date";
    EXPECT_EQ(static_cast<std::uint64_t>(none.getFixedSize()), keys[2].size);

    EXPECT_EQ(Result::StoreFailed, client.storeFlags(2, {"\\Seen"})) << "EXAMINE is read-only";
    ASSERT_EQ(Result::Ok, client.selectKeys("INBOX", keys));
    EXPECT_EQ(Result::Ok, client.storeFlags(2, {"\\Seen"}));
    EXPECT_EQ(Result::Ok, client.storeFlags(1, {}));
    EXPECT_EQ(Result::StoreFailed, client.storeFlags(3, {"\\Recent"}));
    ASSERT_EQ(Result::Ok, client.examineKeys("INBOX", keys));
    EXPECT_EQ((std::vector<std::string>{"\\Seen"}), keys[1].flags);
    EXPECT_TRUE(keys[0].flags.empty()) << "reading the keys marked nothing seen";

    EXPECT_EQ(Result::SelectFailed, client.examineKeys("Missing", keys));
    ASSERT_EQ(Result::Ok, client.createFolder("Empty", SimpleImapClient::FolderMail));
    EXPECT_EQ(Result::Ok, client.selectKeys("Empty", keys));
    EXPECT_TRUE(keys.empty());
    client.disconnect(true);

    server.stop();
    VantrelDump dump = server.dump();
    EXPECT_EQ(2u, dump.stats.stores);
    const auto& inbox = dump.account("ann", "sales")->folder("INBOX")->messages;
    EXPECT_TRUE(inbox[0].flags.empty());
    EXPECT_EQ((std::vector<std::string>{"\\Seen"}), inbox[1].flags);
}

// A server that stored a message and died before it answered: started again
// from what it held, it shows the message that the client saw fail.
TEST(VantrelTargetKeys, AnAppendStoredButUnansweredIsThereAfterARestart) {
    VantrelServer dying({.arguments = {"--die-after-appends", "2"}});
    SimpleImapClient client(10);
    provision(client, dying);
    TestMessage one({"Message-ID: <1@x>\r\n\r\none\r\n"}, "", kDate);
    TestMessage two({"Message-ID: <2@x>\r\n\r\ntwo\r\n"}, "\\Flagged ", kDate);
    ASSERT_EQ(Result::Ok, client.append("INBOX", &one, true));
    EXPECT_EQ(Result::ConnectionError, client.append("INBOX", &two, true));
    client.disconnect(false);
    dying.stop();  // it may be ending on its own already; its dump is written either way

    VantrelServer again({.arguments = {"--load", dying.dumpFile()}});
    ASSERT_EQ(Result::Ok, client.connect(kHost, again.port(), again.masterPassword(), 0));
    ASSERT_EQ(Result::Ok, client.setUser("ann", "sales"));
    std::vector<TargetMessage> keys;
    ASSERT_EQ(Result::Ok, client.examineKeys("INBOX", keys));
    ASSERT_EQ(2u, keys.size());
    EXPECT_EQ("<2@x>", keys[1].messageId);
    EXPECT_EQ((std::vector<std::string>{"\\Flagged"}), keys[1].flags);
    client.disconnect(true);
}

}  // namespace
