#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

#include "support/VantrelDump.h"

// Starts the Vantrel test server (tests/peers/vantrel_server.py, Python 3,
// standard library only) as a child process on 127.0.0.1 for tests and
// benchmarks, and reads its state back as a VantrelDump. Free of gtest. The
// server also ends when the thread that started it ends.
//
//   VantrelServer server({.arguments = {"--account", "ann@sales:pw"}});
//   ... run tarmig or a client against 127.0.0.1:server.port() ...
//   server.stop();
//   VantrelDump dump = server.dump();
//
// The server's own options (fault switches, sink mode, version text, ...) are
// documented at the top of vantrel_server.py and passed through `arguments`.
namespace tarmig::testing {

class TempDir;

struct VantrelServerOptions {
    std::string masterPassword = "master";
    // Further server options, verbatim, e.g. {"--refuse-append", "2"}.
    std::vector<std::string> arguments;
    // Serve TLS from the first byte with a fresh self-signed certificate.
    bool tls = false;
};

class VantrelServer {
public:
    // Starts the server and reads its port; throws std::runtime_error when it
    // does not come up within ten seconds.
    explicit VantrelServer(VantrelServerOptions options = {});
    // Stops the server if it still runs.
    ~VantrelServer();
    VantrelServer(const VantrelServer&) = delete;
    VantrelServer& operator=(const VantrelServer&) = delete;

    unsigned port() const { return port_; }
    const std::string& masterPassword() const { return options_.masterPassword; }
    // PEM certificate the server presents (TLS only).
    std::string certificateFile() const;

    // Ends the server by its process id (SIGTERM, then waits for it; SIGKILL
    // after ten seconds) and returns its exit status, 0 after a clean stop.
    // The server writes its dump as it exits. Safe to repeat.
    int stop();
    bool running() const { return pid_ > 0; }

    // The file the server writes its dump to (at X-DUMP and at exit); a new
    // server started with {"--load", dumpFile()} goes on from that state.
    std::string dumpFile() const;

    // The server's state: asked over a connection (X-DUMP) while it runs,
    // read from the file it wrote at exit after stop().
    VantrelDump dump() const;

private:
    std::string liveDump() const;

    VantrelServerOptions options_;
    std::unique_ptr<TempDir> dir_;
    unsigned port_ = 0;
    pid_t pid_ = -1;
    int exitStatus_ = -1;
};

}  // namespace tarmig::testing
