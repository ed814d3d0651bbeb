#pragma once

#include <iosfwd>
#include <string>

#include "store/MailboxType.h"
#include "utils/DirectoryReader.h"

namespace tarmig {

class Mailbox;

// One domain directory of the store: enumerates its accounts lazily, in the
// order the file system lists them, filling one reused Mailbox per account.
class Domain {
public:
    explicit Domain(std::ostream& output);
    virtual ~Domain() = default;
    Domain(const Domain&) = delete;
    Domain& operator=(const Domain&) = delete;

    void initialize(std::string name, std::string path);

    // Restart the listing and fill mailbox with the first account whose name
    // matches mask; false when there is none.
    bool getFirstMailbox(Mailbox& mailbox, const std::string& mask);
    // The next matching account; false at the end.
    bool getNextMailbox(Mailbox& mailbox, const std::string& mask);

    // Account name of a directory entry ("ann.macnt", "ann.mdir"), or empty.
    static std::string getUsernameFromFolder(std::string entryName, MailboxType& type);
    // Account name of a regular file entry ("ann.mbox"), or empty.
    static std::string getUsernameFromFile(std::string entryName, MailboxType& type);

    std::string name;
    std::string path;

private:
    std::ostream& output;
    zenqa::utils::DirectoryReader directory;
};

}  // namespace tarmig
