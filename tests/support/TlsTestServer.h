#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "support/LoopbackSocket.h"

// Certificates made at test time with the openssl tool, and a one-shot TLS
// server on 127.0.0.1 for client stream tests.
namespace tarmig::testing {

// PEM files in a directory of the caller's: a self-signed certificate for
// localhost, a test CA, and certificates issued by that CA for localhost, for
// other.example and for the addresses 127.0.0.1 and ::1.
struct TestCertificates {
    explicit TestCertificates(const std::string& directory);

    std::string selfSignedCert, selfSignedKey;
    std::string caCert;
    std::string issuedCert, issuedKey;
    std::string otherNameCert, otherNameKey;
    std::string loopbackAddressCert, loopbackAddressKey;

private:
    // altNames: the subjectAltName value, e.g. "DNS:localhost" or "IP:::1".
    void issue(const std::string& directory, const std::string& name, const std::string& altNames,
               const std::string& caKey);
};

// Accepts one connection, shakes hands, sends greeting and records the first
// line the client sends. A handshake the client refuses just ends the server.
class TlsTestServer {
public:
    TlsTestServer(const std::string& certFile, const std::string& keyFile,
                  std::string greeting = "* OK tls ready\r\n", Loopback family = Loopback::V4);
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    unsigned port() const { return listenPort; }
    // Waits for the server to finish; then these hold what it saw.
    void join();
    bool handshakeDone() const { return handshake; }
    const std::string& serverName() const { return requestedName; }
    const std::string& firstLine() const { return line; }

private:
    void run();

    std::string certFile, keyFile, greeting;
    int listenSocket = -1;
    unsigned listenPort = 0;
    std::thread thread;
    std::atomic<bool> handshake{false};
    std::string requestedName;
    std::string line;
};

}  // namespace tarmig::testing
