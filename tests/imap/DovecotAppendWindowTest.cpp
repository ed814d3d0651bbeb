// Appends in flight against a real IMAP server: a private Dovecot on loopback.
#include "imap/FetchMessage.h"
#include "imap/SimpleImapClient.h"
#include "support/DovecotServer.h"
#include "TestMessage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

using tarmig::testing::DovecotOptions;
using tarmig::testing::DovecotServer;
using tarmig::testing::dovecotInstalled;
using tarmig::testing::TestMessage;
using C = SimpleImapClient;

namespace {

std::string bodyOf(int n) {
    return "Subject: " + std::to_string(n) + "\r\n\r\n" + std::string(static_cast<std::size_t>(n) * 97, 'x') + "\r\n";
}

TEST(DovecotAppendWindow, MessagesArriveInOrderWithTheirFlagsAndARefusalStaysWithItsMessage) {
    if (!dovecotInstalled()) GTEST_SKIP() << "Dovecot is not installed (/usr/sbin/dovecot); install dovecot-imapd";
    DovecotOptions options;
    options.users = {{"wanda", "w"}};
    DovecotServer server(options);
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;

    SimpleImapClient client(10);
    client.setAppendWindow(8);
    ASSERT_EQ(client.connect("127.0.0.1", server.port(), "wanda", "w", false), C::Ok);
    ASSERT_EQ(client.createFolder("Window", C::FolderNone), C::Ok);
    const char* flags[] = {"", "\\Seen ", "\\Seen \\Flagged ", "\\Draft "};
    std::deque<TestMessage> messages;
    std::vector<C::ImapClientResult> results;
    std::size_t mostInFlight = 0;
    for (int n = 1; n <= 30; ++n) {
        messages.emplace_back(std::vector<std::string>{bodyOf(n)}, flags[n % 4], "20-Feb-2004 12:34:56 +0000");
        // The eleventh goes to a folder that does not exist.
        ASSERT_EQ(client.sendAppend(n == 11 ? "Missing" : "Window", &messages.back(), false), C::Ok);
        mostInFlight = std::max(mostInFlight, client.appendsInFlight());
        while (client.appendWindowFull()) results.push_back(client.collectAppend());
    }
    while (client.appendsInFlight() > 0) results.push_back(client.collectAppend());
    // Dovecot announces LITERAL+ in its greeting: the window fills.
    EXPECT_EQ(mostInFlight, 8u);
    ASSERT_EQ(results.size(), 30u);
    for (int n = 1; n <= 30; ++n) EXPECT_EQ(results[n - 1], n == 11 ? C::AppendFailed : C::Ok) << n;

    unsigned count = 0;
    ASSERT_EQ(client.status("Window", count), C::Ok);
    ASSERT_EQ(count, 29u);
    ASSERT_EQ(client.select("Window"), C::Ok);
    FetchMessage fetched;
    unsigned number = 0;
    for (int n = 1; n <= 30; ++n) {
        if (n == 11) continue;
        ASSERT_EQ(client.fetch(++number, fetched), C::Ok);
        std::string data, part;
        for (bool more = fetched.getFirstDataPart(part); more; more = fetched.getNextDataPart(part)) data += part;
        EXPECT_EQ(data, bodyOf(n));
        std::string expectedFlags = flags[n % 4];
        if (!expectedFlags.empty()) expectedFlags.pop_back();
        EXPECT_EQ(fetched.getFlags(), expectedFlags) << n;
        EXPECT_EQ(fetched.getDate(), "20-Feb-2004 12:34:56 +0000");
    }
    client.disconnect(true);
}

}  // namespace
