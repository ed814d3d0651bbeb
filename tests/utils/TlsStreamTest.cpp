#include "utils/TcpClientIOStream.h"

#include "support/StoreBuilder.h"
#include "support/TlsTestServer.h"

#include <gtest/gtest.h>

namespace {

using tarmig::testing::TempDir;
using tarmig::testing::TestCertificates;
using tarmig::testing::TlsTestServer;
using zenqa::utils::basic_tcpclientiostream;
using zenqa::utils::InetSocketAddress;
using zenqa::utils::TlsSettings;

class TlsStreamTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        directory = new TempDir;
        certificates = new TestCertificates(directory->path());
    }
    static void TearDownTestSuite() {
        delete certificates;
        delete directory;
    }

    // Connects to the server under the host name; true when the stream is usable
    // and the server's greeting was read.
    static bool talk(TlsTestServer& server, const std::string& host, const TlsSettings& settings) {
        basic_tcpclientiostream stream(InetSocketAddress(host, server.port()),
                                       InetSocketAddress::any(), 4096, 4096, true, settings);
        stream.setTimeoutInSeconds(10);
        stream.create();
        if (!stream.good()) {
            return false;
        }
        std::string line;
        std::getline(stream, line);
        stream << "A1 LOGOUT\r\n";
        stream.flush();
        return line == "* OK tls ready\r" && stream.good();
    }

    static TempDir* directory;
    static TestCertificates* certificates;
};

TempDir* TlsStreamTest::directory = nullptr;
TestCertificates* TlsStreamTest::certificates = nullptr;

TEST_F(TlsStreamTest, SelfSignedServerIsRefusedByDefault) {
    TlsTestServer server(certificates->selfSignedCert, certificates->selfSignedKey);
    EXPECT_FALSE(talk(server, "localhost", TlsSettings{}));
    server.join();
    EXPECT_FALSE(server.handshakeDone());
}

TEST_F(TlsStreamTest, UnverifiedConnectionOnlyWhenAskedFor) {
    TlsTestServer server(certificates->selfSignedCert, certificates->selfSignedKey);
    EXPECT_TRUE(talk(server, "localhost", TlsSettings{false, ""}));
    server.join();
    EXPECT_TRUE(server.handshakeDone());
    EXPECT_EQ(server.firstLine(), "A1 LOGOUT\r\n");
    EXPECT_EQ(server.serverName(), "localhost");
}

TEST_F(TlsStreamTest, CertificateFromTrustedCaIsAccepted) {
    TlsTestServer server(certificates->issuedCert, certificates->issuedKey);
    EXPECT_TRUE(talk(server, "localhost", TlsSettings{true, certificates->caCert}));
    server.join();
    EXPECT_EQ(server.firstLine(), "A1 LOGOUT\r\n");
}

TEST_F(TlsStreamTest, WrongHostNameIsRefused) {
    TlsTestServer other(certificates->otherNameCert, certificates->otherNameKey);
    EXPECT_FALSE(talk(other, "localhost", TlsSettings{true, certificates->caCert}));
    other.join();
    EXPECT_FALSE(other.handshakeDone());

    // The certificate names localhost only; no server name is sent for an address.
    TlsTestServer server(certificates->issuedCert, certificates->issuedKey);
    EXPECT_FALSE(talk(server, "127.0.0.1", TlsSettings{true, certificates->caCert}));
    server.join();
    EXPECT_FALSE(server.handshakeDone());
    EXPECT_EQ(server.serverName(), "");
}

TEST_F(TlsStreamTest, UntrustedCaIsRefused) {
    TlsTestServer server(certificates->issuedCert, certificates->issuedKey);
    EXPECT_FALSE(talk(server, "localhost", TlsSettings{}));
}

}  // namespace
