#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

#include "support/LoopbackSocket.h"

// A private Dovecot IMAP server on 127.0.0.1 (or ::1) for tests and benchmarks: its
// configuration, mail, state and logs live in a temporary directory, so the
// system's own Dovecot is never touched. Free of gtest on purpose.
namespace tarmig::testing {

struct DovecotAccount {
    std::string user;
    std::string password;
};

struct DovecotOptions {
    std::vector<DovecotAccount> users;
    // Master users log in for any user as "user*master".
    std::vector<DovecotAccount> masterUsers;
    // Serve TLS from the first byte (implicit TLS) with a self-signed certificate.
    bool tls = false;
    // The loopback address it listens on: 127.0.0.1 or ::1.
    Loopback listen = Loopback::V4;
};

// Whether the Dovecot binary is installed; tests skip without it.
bool dovecotInstalled();

class DovecotServer {
public:
    explicit DovecotServer(DovecotOptions options);
    ~DovecotServer();
    DovecotServer(const DovecotServer&) = delete;
    DovecotServer& operator=(const DovecotServer&) = delete;

    // Writes the configuration, starts Dovecot and waits until its port
    // accepts connections. False with the reason in `error`.
    bool start(std::string& error);
    // Stops the server by its process id and waits for it; safe to repeat.
    void stop();

    unsigned port() const { return port_; }
    const std::string& directory() const { return dir_; }
    // The server's self-signed certificate (TLS variant only).
    std::string certificateFile() const { return dir_ + "/cert.pem"; }
    // Dovecot's own log, for diagnosing a failed start or login.
    std::string logText() const;

private:
    bool prepare(std::string& error);
    std::string configText() const;
    bool launch(std::string& error);

    DovecotOptions options_;
    std::string dir_;
    unsigned port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace tarmig::testing
