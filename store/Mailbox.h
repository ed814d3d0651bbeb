#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "store/Folder.h"
#include "store/MailboxType.h"

namespace tarmig {

// One account of the store: where and how it is stored, its full name,
// clear-text password and size, and its folder list. Reused in place for
// every account of a domain.
class Mailbox {
public:
    explicit Mailbox(std::ostream& output);
    virtual ~Mailbox() = default;
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // Works out the account's file locations and reads its info and settings
    // files; raises CGStoreException when the settings cannot be read.
    void initialize(std::string username, std::string domain, std::string domainPath, std::string baseName,
                    MailboxType type);
    // Appends one Folder per folder entry of the info file; raises
    // CGStoreException when the info file cannot be read.
    void getFolderList(std::vector<Folder>& folders);

    std::string path;
    std::string username;
    std::string domain;
    std::string fullName;
    std::string password;
    std::string size;  // "unknown" when the info file cannot be read
    std::string infoPath;
    std::string settingsPath;
    MailboxType type = MailboxNone;
    std::ostream& output;
};

}  // namespace tarmig
