#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The state of the Vantrel test server (tests/peers/vantrel_server.py) as it
// dumps it: accounts, their typed folders and every appended message with its
// exact bytes. The server writes JSON in which each byte of a name, password
// or flag is one code point U+0000-U+00FF and message data are Base64; the
// reader below turns both back into byte strings.
namespace tarmig::testing {

struct VantrelMessage {
    std::uint64_t uid = 0;
    std::vector<std::string> flags;  // as sent, in order and letter case
    std::string date;                // date-time sent with the append; empty when none
    std::string internalDate;        // the date the server keeps
    std::string via;                 // "APPEND" or "X-APPEND"
    std::uint64_t size = 0;
    std::string data;                // exact bytes
};

struct VantrelFolder {
    std::string name;
    std::string type;  // CREATE type word, e.g. "X-CONTACT"; empty when none was sent
    std::string guid;
    std::uint64_t messageCount = 0;  // counts appends also in sink mode
    std::vector<VantrelMessage> messages;
};

struct VantrelAccount {
    std::string name;
    std::string domain;
    std::string password;
    std::string fullName;
    std::vector<std::string> groups;
    std::vector<VantrelFolder> folders;  // in creation order, INBOX first

    // The folder of that exact name, or null.
    const VantrelFolder* folder(const std::string& folderName) const;
};

struct VantrelStats {
    std::uint64_t connections = 0;
    std::uint64_t commands = 0;
    std::uint64_t appends = 0;
    std::uint64_t appendedBytes = 0;
    std::uint64_t refusedAppends = 0;
    std::uint64_t masterLogins = 0;
    std::uint64_t failedLogins = 0;
    std::uint64_t stores = 0;  // STORE and UID STORE commands carried out
};

struct VantrelDump {
    std::vector<VantrelAccount> accounts;  // in creation order
    VantrelStats stats;

    // The account of that exact name and domain, or null.
    const VantrelAccount* account(const std::string& name, const std::string& domain) const;
};

// Reads the server's dump text; throws std::runtime_error when it is malformed.
VantrelDump parseVantrelDump(const std::string& json);

}  // namespace tarmig::testing
