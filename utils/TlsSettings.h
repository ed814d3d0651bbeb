#pragma once

#include <string>

namespace zenqa::utils {

// How a TLS client stream checks the server. The server's chain is checked
// against the system trust store and its name against the host name; only
// verifyPeer = false accepts an unchecked server.
struct TlsSettings {
    bool verifyPeer = true;
    // An extra trusted CA file (PEM), added to the system store; empty: none.
    std::string caFile;
};

}  // namespace zenqa::utils
