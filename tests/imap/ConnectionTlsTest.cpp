#include "imap/ConnectionInternal.h"
#include "imap/ImapException.h"

#include "support/StoreBuilder.h"
#include "support/TlsTestServer.h"

#include <gtest/gtest.h>

namespace {

using tarmig::testing::TempDir;
using tarmig::testing::TestCertificates;
using tarmig::testing::TlsTestServer;

TEST(ConnectionTlsTest, VerificationSettingsReachTheStream) {
    TempDir directory;
    TestCertificates certificates(directory.path());

    {
        TlsTestServer server(certificates.selfSignedCert, certificates.selfSignedKey);
        ConnectionInternal connection;
        connection.initialize("localhost", server.port(), "master", 10, true);
        EXPECT_THROW(connection.init(false), ImapConnectionFailed);
        EXPECT_EQ(connection.getState(), ConnectionInternal::Disconnected);
    }
    {
        TlsTestServer server(certificates.selfSignedCert, certificates.selfSignedKey);
        ConnectionInternal connection;
        connection.initialize("localhost", server.port(), "master", 10, true);
        connection.transport().setVerifyPeer(false);
        connection.init(false);
        EXPECT_EQ(connection.getGreeting(), "* OK tls ready\r");
    }
    {
        TlsTestServer server(certificates.issuedCert, certificates.issuedKey);
        ConnectionInternal connection;
        connection.initialize("localhost", server.port(), "master", 10, true);
        connection.transport().setTrustedCaFile(certificates.caCert);
        connection.init(false);
        EXPECT_EQ(connection.getState(), ConnectionInternal::Connected);
        EXPECT_TRUE(connection.transport().send("T0 LOGOUT\r\n"));
        connection.close();
        server.join();
        EXPECT_EQ(server.firstLine(), "T0 LOGOUT\r\n");
    }
}

}  // namespace
