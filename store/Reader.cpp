#include "store/Reader.h"

#include <ostream>
#include <utility>

#include "migrator/CGException.h"
#include "store/Domain.h"
#include "utils/FileNameMatch.h"

namespace tarmig {

using zenqa::utils::DirectoryReader;

Reader::Reader(std::ostream& output) : output(output) {}

void Reader::initialize(std::string storePath, const std::string& primaryDomain) {
    this->storePath = std::move(storePath);
    this->primaryDomain = primaryDomain;
}

bool Reader::getFirstDomain(Domain& domain, const std::string& mask) {
    // Opened before the primary domain is checked, so that the walk can go on
    // with the other domains when <store>/Accounts is missing. A missing
    // Domains directory leaves no listing: there are no other domains.
    directory.open(storePath + "/Domains");
    if (!zenqa::utils::fileNameMatch(mask, primaryDomain, true)) return getNextDomain(domain, mask);

    DirectoryReader accounts;
    if (!accounts.open(storePath + "/Accounts")) {
        output << "Error: default domain not found, wrong path\n";
        throw CGStoreException("default domain not found, wrong path");
    }
    domain.initialize(primaryDomain, storePath + "/Accounts");
    output << "Info: read default domain (" << domain.name << ") path: \"" << domain.path << "\"\n";
    return true;
}

bool Reader::getNextDomain(Domain& domain, const std::string& mask) {
    std::string entry;
    DirectoryReader::Kind kind;
    while (directory.next(entry, kind)) {
        if (kind != DirectoryReader::Directory || !zenqa::utils::fileNameMatch(mask, entry, true)) continue;
        domain.initialize(entry, storePath + "/Domains/" + entry);
        output << "Info: read domain (" << domain.name << ") path: \"" << domain.path << "\"\n";
        return true;
    }
    return false;
}

}  // namespace tarmig
