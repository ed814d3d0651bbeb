#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "store/MailboxType.h"
#include "utils/DirectoryReader.h"

namespace tarmig {

class Mailbox;

// One domain directory of the store: enumerates its accounts lazily, in the
// order the file system lists them, filling one reused Mailbox per account.
// Large domains keep accounts in nested "*.sub" directories; those are walked
// where they are met, so only one listing per level is open at a time.
class Domain {
public:
    explicit Domain(std::ostream& output);
    virtual ~Domain();
    Domain(const Domain&) = delete;
    Domain& operator=(const Domain&) = delete;

    void initialize(std::string name, std::string path);

    // Restart the listing and fill mailbox with the first account whose name
    // matches mask; false when there is none.
    bool getFirstMailbox(Mailbox& mailbox, const std::string& mask);
    // The next matching account; false at the end. An account whose name
    // (without regard to case) was already yielded in this listing fails
    // (CGStoreException): the target has one account of that name, so a
    // second copy, in another ".sub" directory or another form, would be
    // taken for an existing account and its mail left behind.
    bool getNextMailbox(Mailbox& mailbox, const std::string& mask);

    // Account name of a directory entry ("ann.macnt", "ann.mdir"), or empty.
    static std::string getUsernameFromFolder(std::string entryName, MailboxType& type);
    // Account name of a regular file entry ("ann.mbox"), or empty.
    static std::string getUsernameFromFile(std::string entryName, MailboxType& type);

    std::string name;
    std::string path;

private:
    // One open directory of the walk: the domain directory or a "*.sub" below it.
    struct Level {
        std::string path;
        zenqa::utils::DirectoryReader directory;
    };

    // Opens a "*.sub" directory below the current level; an unreadable one is
    // an error, since the accounts inside would be lost.
    void enterSubdirectory(Mailbox& mailbox, const std::string& entry);
    void refuseLinkedAccounts(Mailbox& mailbox, const std::string& levelPath, const std::string& entry,
                              const std::string& mask);
    void reportIgnored(const std::string& entryPath, zenqa::utils::DirectoryReader::Kind kind);

    std::ostream& output;
    std::vector<std::unique_ptr<Level>> levels;
    std::unordered_set<std::string> accountsSeen;  // lower-case names yielded since getFirstMailbox
};

}  // namespace tarmig
