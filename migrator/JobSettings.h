#pragma once

#include <string>

namespace tarmig {

// What every account job of a run needs to know about the target and the
// account's values, as the command line gave them.
struct JobSettings {
    std::string server;
    int port = 0;
    std::string masterPassword;
    bool force = false;
    // Existing accounts are migrated into, each folder reconciled with the
    // target first so that only what it lacks is sent.
    bool incremental = false;
    // After each account, its folders are compared with the target.
    bool verify = false;
    // Nothing is written to the target: accounts are only compared.
    bool verifyOnly = false;
    std::string setPass;
    std::string forceSetPass;
    bool fixLineEnds = true;
    // Bounds every wait for the target server; tests shorten it.
    unsigned timeoutSeconds = 180;
    bool useTls = false;
    bool verifyPeer = true;
    // Appends that may await their answers at once on one connection.
    unsigned appendWindow = 1;
};

}  // namespace tarmig
