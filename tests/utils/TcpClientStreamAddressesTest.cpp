#include "utils/InetSocketAddress.h"
#include "utils/TcpClientIOStream.h"

#include "support/ScriptedPeer.h"
#include "support/StoreBuilder.h"
#include "support/TlsTestServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tarmig::testing::freeLoopbackPort;
using tarmig::testing::Loopback;
using tarmig::testing::ScriptedPeer;
using tarmig::testing::TempDir;
using tarmig::testing::TestCertificates;
using tarmig::testing::TlsTestServer;
using zenqa::utils::basic_tcpclientiostream;
using zenqa::utils::InetSocketAddress;
using zenqa::utils::SocketAddress;
using zenqa::utils::TlsSettings;

SocketAddress loopback(Loopback family, unsigned port) {
    return InetSocketAddress(family == Loopback::V6 ? "::1" : "127.0.0.1", port).getAddresses().front();
}

// Connects, reads the greeting and says one line; the greeting when that worked, "" when not.
std::string greetingFrom(const InetSocketAddress& remote) {
    basic_tcpclientiostream stream(remote, InetSocketAddress::any(), 4096, 4096);
    stream.setTimeoutInSeconds(10);
    stream.create();
    std::string line;
    if (!stream.good() || !std::getline(stream, line)) {
        return "";
    }
    stream << "A1 LOGOUT\r\n";
    stream.flush();
    return line;
}

TEST(TcpClientStreamAddresses, ConnectsToIpv6Loopback) {
    for (const char* host : {"::1", "[::1]"}) {
        ScriptedPeer peer(std::chrono::seconds(10), Loopback::V6);
        peer.send("* OK six\r\n").expect("A1 LOGOUT\r\n");
        peer.start();
        EXPECT_EQ(greetingFrom(InetSocketAddress(host, peer.port())), "* OK six\r") << host;
        EXPECT_EQ(peer.wait(), "");
    }
}

TEST(TcpClientStreamAddresses, EachAddressIsTriedInTurnUntilOneAnswers) {
    ScriptedPeer peer(std::chrono::seconds(10), Loopback::V6);
    peer.send("* OK third\r\n").expect("A1 LOGOUT\r\n");
    peer.start();
    const InetSocketAddress name("mail.example", {loopback(Loopback::V4, freeLoopbackPort(Loopback::V4)),
                                                  loopback(Loopback::V6, freeLoopbackPort(Loopback::V6)),
                                                  loopback(Loopback::V6, peer.port())});
    EXPECT_EQ(greetingFrom(name), "* OK third\r");
    EXPECT_EQ(peer.wait(), "");

    const InetSocketAddress noneAnswers("mail.example", {loopback(Loopback::V6, freeLoopbackPort(Loopback::V6)),
                                                         loopback(Loopback::V4, freeLoopbackPort(Loopback::V4))});
    basic_tcpclientiostream stream(noneAnswers, InetSocketAddress::any(), 4096, 4096);
    stream.create();
    EXPECT_TRUE(stream.fail());
    EXPECT_FALSE(stream.isConnected());
}

class TlsOverIpv6 : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        directory = new TempDir;
        certificates = new TestCertificates(directory->path());
    }
    static void TearDownTestSuite() {
        delete certificates;
        delete directory;
    }

    // True when the handshake with the server on ::1 succeeds under this host text.
    static bool verified(TlsTestServer& server, const std::string& host) {
        basic_tcpclientiostream stream(InetSocketAddress(host, server.port()), InetSocketAddress::any(), 4096, 4096,
                                       true, TlsSettings{true, certificates->caCert});
        stream.setTimeoutInSeconds(10);
        stream.create();
        std::string line;
        return stream.good() && std::getline(stream, line) && line == "* OK tls ready\r";
    }

    static TempDir* directory;
    static TestCertificates* certificates;
};

TempDir* TlsOverIpv6::directory = nullptr;
TestCertificates* TlsOverIpv6::certificates = nullptr;

TEST_F(TlsOverIpv6, CertificateForTheAddressIsAcceptedWithoutServerName) {
    for (const char* host : {"::1", "[::1]"}) {
        TlsTestServer server(certificates->loopbackAddressCert, certificates->loopbackAddressKey,
                             "* OK tls ready\r\n", Loopback::V6);
        EXPECT_TRUE(verified(server, host)) << host;
        server.join();
        EXPECT_TRUE(server.handshakeDone());
        EXPECT_EQ(server.serverName(), "");  // names only, never addresses, go in SNI
    }
}

TEST_F(TlsOverIpv6, AddressIsCheckedAsAnAddressNotAsAName) {
    // A certificate for localhost does not cover ::1, though the two reach the same host.
    TlsTestServer named(certificates->issuedCert, certificates->issuedKey, "* OK tls ready\r\n", Loopback::V6);
    EXPECT_FALSE(verified(named, "::1"));
    named.join();
    EXPECT_FALSE(named.handshakeDone());
}

}  // namespace
