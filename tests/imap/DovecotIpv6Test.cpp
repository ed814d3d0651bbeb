// The client against a real IMAP server listening on the IPv6 loopback only.
#include "imap/FetchMessage.h"
#include "imap/SimpleImapClient.h"
#include "support/DovecotServer.h"
#include "TestMessage.h"

#include <gtest/gtest.h>

#include <string>

using tarmig::testing::DovecotOptions;
using tarmig::testing::DovecotServer;
using tarmig::testing::dovecotInstalled;
using tarmig::testing::Loopback;
using tarmig::testing::TestMessage;
using C = SimpleImapClient;

namespace {

std::string readBody(FetchMessage& message) {
    std::string data, part;
    for (bool more = message.getFirstDataPart(part); more; more = message.getNextDataPart(part)) data += part;
    return data;
}

// Appends a message under the given server text and reads it back.
void appendAndReadBack(SimpleImapClient& client, const std::string& folder) {
    ASSERT_EQ(client.createFolder(folder, C::FolderNone), C::Ok);
    TestMessage message({"Subject: v6\r\n\r\nover ::1\r\n"}, "\\Seen ", "");
    ASSERT_EQ(client.append(folder, &message, false), C::Ok);
    ASSERT_EQ(client.select(folder), C::Ok);
    FetchMessage fetched;
    ASSERT_EQ(client.fetch(1, fetched), C::Ok);
    EXPECT_EQ(readBody(fetched), "Subject: v6\r\n\r\nover ::1\r\n");
    client.disconnect(true);
}

TEST(DovecotIpv6, PlainAndTlsWithTheAddressInOrOutOfBrackets) {
    if (!dovecotInstalled()) GTEST_SKIP() << "Dovecot is not installed (/usr/sbin/dovecot); install dovecot-imapd";
    for (bool tls : {false, true}) {
        DovecotOptions options;
        options.users = {{"ann", "secret"}};
        options.tls = tls;
        options.listen = Loopback::V6;
        DovecotServer server(options);
        std::string error;
        ASSERT_TRUE(server.start(error)) << error;

        SimpleImapClient bare(10);
        bare.setTls(tls, false);
        ASSERT_EQ(bare.connect("::1", server.port(), "ann", "secret", false), C::Ok) << tls;
        appendAndReadBack(bare, tls ? "Bare TLS" : "Bare");

        SimpleImapClient bracketed(10);
        bracketed.setTls(tls, false);
        ASSERT_EQ(bracketed.connect("[::1]", server.port(), "ann", "secret", true), C::Ok) << tls;
        appendAndReadBack(bracketed, tls ? "Bracketed TLS" : "Bracketed");

        // Nothing listens on 127.0.0.1 there.
        SimpleImapClient v4(2);
        v4.setTls(tls, false);
        EXPECT_EQ(v4.connect("127.0.0.1", server.port(), "ann", "secret", false), C::ConnectionError);
    }
}

}  // namespace
