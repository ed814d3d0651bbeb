#include "support/TlsTestServer.h"

#include "support/LoopbackSocket.h"
#include "support/StoreBuilder.h"

#include <openssl/ssl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace tarmig::testing {

namespace {

const std::string newKey = "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";

void run(const std::string& command) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
        throw std::runtime_error("failed: " + command);
    }
}

}  // namespace

TestCertificates::TestCertificates(const std::string& directory) {
    const std::string d = directory + "/";
    selfSignedCert = d + "self.crt";
    selfSignedKey = d + "self.key";
    run(newKey + "-x509 -days 2 -subj /CN=localhost -addext subjectAltName=DNS:localhost -keyout " +
        selfSignedKey + " -out " + selfSignedCert);

    caCert = d + "ca.crt";
    const std::string caKey = d + "ca.key";
    run(newKey + "-x509 -days 2 -subj '/CN=Test CA' -addext basicConstraints=critical,CA:TRUE " +
        "-addext keyUsage=critical,keyCertSign -keyout " + caKey + " -out " + caCert);

    issue(d, "issued", "DNS:localhost", caKey);
    issuedCert = d + "issued.crt";
    issuedKey = d + "issued.key";
    issue(d, "other", "DNS:other.example", caKey);
    otherNameCert = d + "other.crt";
    otherNameKey = d + "other.key";
    issue(d, "loopback", "IP:127.0.0.1,IP:::1", caKey);
    loopbackAddressCert = d + "loopback.crt";
    loopbackAddressKey = d + "loopback.key";
}

void TestCertificates::issue(const std::string& d, const std::string& name,
                             const std::string& altNames, const std::string& caKey) {
    writeFile(d + name + ".ext", "subjectAltName=" + altNames + "\nbasicConstraints=CA:FALSE\n");
    run(newKey + "-subj /CN=" + name + " -keyout " + d + name + ".key -out " + d + name + ".csr");
    run("openssl x509 -req -days 2 -in " + d + name + ".csr -CA " + caCert + " -CAkey " + caKey +
        " -CAcreateserial -extfile " + d + name + ".ext -out " + d + name + ".crt");
}

TlsTestServer::TlsTestServer(const std::string& certFile, const std::string& keyFile,
                             std::string greeting, Loopback family)
    : certFile(certFile), keyFile(keyFile), greeting(std::move(greeting)) {
    listenSocket = listenOnLoopback(1, listenPort, family);
    if (listenSocket < 0) {
        throw std::runtime_error("TlsTestServer: cannot listen on loopback");
    }
    thread = std::thread(&TlsTestServer::run, this);
}

TlsTestServer::~TlsTestServer() {
    join();
    ::close(listenSocket);
}

void TlsTestServer::join() {
    if (thread.joinable()) {
        thread.join();
    }
}

void TlsTestServer::run() {
    // A client that went away must not end the test program with SIGPIPE.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    pollfd entry{listenSocket, POLLIN, 0};
    if (poll(&entry, 1, 10000) <= 0) {
        return;
    }
    const int client = ::accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
        return;
    }
    const timeval limit{10, 0};
    setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    SSL* session = nullptr;
    if (context != nullptr &&
        SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) == 1 &&
        SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) == 1) {
        session = SSL_new(context);
    }
    if (session != nullptr && SSL_set_fd(session, client) == 1 && SSL_accept(session) == 1) {
        handshake = true;
        if (const char* name = SSL_get_servername(session, TLSEXT_NAMETYPE_host_name)) {
            requestedName = name;
        }
        SSL_write(session, greeting.data(), static_cast<int>(greeting.size()));
        char ch;
        while (SSL_read(session, &ch, 1) == 1) {
            line += ch;
            if (ch == '\n') {
                break;
            }
        }
        SSL_shutdown(session);
    }
    SSL_free(session);
    SSL_CTX_free(context);
    ::close(client);
}

}  // namespace tarmig::testing
