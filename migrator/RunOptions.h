#pragma once

#include <optional>
#include <string>

namespace tarmig {

// Everything the command line says about a run, as read; the driver checks
// the values and hands them to the engine.
struct RunOptions {
    std::string path;
    std::string domain;
    std::string user;
    // "-" for standard input.
    std::string password;
    std::string passwordFile;
    std::string setPass;
    std::string forceSetPass;
    std::string server;
    std::string primaryDomain;
    // The JSON Lines report file, "" for none.
    std::string report;
    // -shard as given ("K/N"); none for the whole store. An empty value is
    // refused by the driver rather than taken for the whole store.
    std::optional<std::string> shard;
    // The first argument that is neither an option nor an option's value, "" when none.
    std::string unknownArgument;
    // A value option written last, without its value ("" when none): left
    // unset, -domain or -user would widen the run to the whole store.
    std::string optionWithoutValue;
    // 143, or 993 with -ssl, unless -port says otherwise.
    int port = 143;
    // 0 for a value that is not a whole number from 1 up (refused by the driver).
    int timeoutSeconds = 180;
    // Enough appends in flight to keep a server busy a few milliseconds away.
    int window = 32;
    // Accounts migrated at once, each on its own connection; 0 for a value
    // that is not a whole number from 1 to 64 (refused by the driver).
    int jobs = 1;
    bool migrate = false;
    bool force = false;
    // Existing accounts are migrated into; each folder gets only what the target lacks.
    bool incremental = false;
    // Each folder of the store is compared with the target after its account.
    bool verify = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
    bool fixLineEnds = true;
    bool useTls = false;
    bool insecure = false;
};

}  // namespace tarmig
