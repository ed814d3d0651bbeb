// Reading message keys and setting flags against a real IMAP server: a
// private Dovecot on loopback.
#include "imap/SimpleImapClient.h"
#include "imap/TargetMessage.h"
#include "support/DovecotServer.h"
#include "TestMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using tarmig::testing::DovecotOptions;
using tarmig::testing::DovecotServer;
using tarmig::testing::TestMessage;
using tarmig::testing::dovecotInstalled;
using C = SimpleImapClient;

namespace {

// Flags without \Recent, which the server sets on its own, in one order.
std::vector<std::string> kept(std::vector<std::string> flags) {
    std::erase(flags, "\\Recent");
    std::sort(flags.begin(), flags.end());
    return flags;
}

TEST(DovecotTargetKeys, KeysMatchWhatWasAppendedAndFlagsAreReplaced) {
    if (!dovecotInstalled()) GTEST_SKIP() << "Dovecot is not installed (/usr/sbin/dovecot)";
    DovecotOptions options;
    options.users = {{"ann", "secret"}};
    DovecotServer server(options);
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;

    SimpleImapClient client(10);
    ASSERT_EQ(client.connect("127.0.0.1", server.port(), "ann", "secret", false), C::Ok);
    ASSERT_EQ(client.createFolder("Keys", C::FolderNone), C::Ok);
    const std::string large = "Message-Id: <big@x>\r\n\r\n" + std::string(100000, 'b') + "\r\n";
    TestMessage folded({"Subject: a\r\nMESSAGE-ID:\r\n\t<fold@x>\r\nTo: b\r\n\r\nbody\r\n"}, "\\Seen \\Flagged ",
                       "20-Feb-2004 12:34:56 +0000");
    TestMessage none({"Subject: none\r\n\r\nMessage-ID: <in-body@x>\r\n"}, "", "05-Mar-2004 01:02:03 +0000");
    TestMessage big({large}, "\\Draft ", "");
    for (TestMessage* m : {&folded, &none, &big}) ASSERT_EQ(client.append("Keys", m, false), C::Ok);

    std::vector<TargetMessage> keys;
    ASSERT_EQ(client.examineKeys("Keys", keys), C::Ok);
    ASSERT_EQ(keys.size(), 3u);
    EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end(),
                               [](const TargetMessage& a, const TargetMessage& b) { return a.uid < b.uid; }));
    EXPECT_EQ(keys[0].messageId, "<fold@x>");
    EXPECT_FALSE(keys[1].messageId) << "a Message-ID line in the body is not a header field";
    EXPECT_EQ(keys[2].messageId, "<big@x>");
    EXPECT_EQ(keys[0].size, static_cast<std::uint64_t>(folded.getFixedSize()));
    EXPECT_EQ(keys[2].size, large.size());
    ASSERT_TRUE(keys[0].arrival && keys[1].arrival && keys[2].arrival);
    EXPECT_EQ(*keys[0].arrival, 1077280496);
    EXPECT_EQ(*keys[1].arrival, 1078448523);
    EXPECT_EQ(kept(keys[0].flags), (std::vector<std::string>{"\\Flagged", "\\Seen"}));

    ASSERT_EQ(client.selectKeys("Keys", keys), C::Ok);
    EXPECT_EQ(client.storeFlags(keys[0].uid, {"\\Answered"}), C::Ok);
    EXPECT_EQ(client.storeFlags(keys[2].uid, {}), C::Ok);
    ASSERT_EQ(client.examineKeys("Keys", keys), C::Ok);
    EXPECT_EQ(kept(keys[0].flags), (std::vector<std::string>{"\\Answered"}));
    EXPECT_TRUE(kept(keys[1].flags).empty()) << "reading the keys marked nothing seen";
    EXPECT_TRUE(kept(keys[2].flags).empty());
    EXPECT_EQ(client.examineKeys("Missing", keys), C::SelectFailed);
    client.disconnect(true);
}

}  // namespace
