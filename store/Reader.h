#pragma once

#include <iosfwd>
#include <string>

#include "utils/DirectoryReader.h"

namespace tarmig {

class Domain;

// Enumerates the domains of a store: the primary domain in <store>/Accounts,
// then every directory of <store>/Domains, filtered by a wildcard mask.
class Reader {
public:
    explicit Reader(std::ostream& output);
    virtual ~Reader() = default;
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    void initialize(std::string storePath, const std::string& primaryDomain);

    // Restart and fill domain with the first domain whose name matches mask;
    // false when there is none.
    bool getFirstDomain(Domain& domain, const std::string& mask);
    // The next matching domain of <store>/Domains; false at the end. A
    // matching entry that is no directory (a symbolic link is not followed)
    // is named in a "Warning: " line. A directory of the primary domain's
    // name, after the primary domain itself was yielded, fails
    // (CGStoreException).
    bool getNextDomain(Domain& domain, const std::string& mask);

private:
    std::string storePath;
    std::string primaryDomain;
    bool primaryRead = false;  // this walk has yielded the primary domain
    std::ostream& output;
    zenqa::utils::DirectoryReader directory;
};

}  // namespace tarmig
