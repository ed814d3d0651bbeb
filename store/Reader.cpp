#include "store/Reader.h"

#include <strings.h>
#include <sys/stat.h>

#include <ostream>
#include <utility>

#include "store/Domain.h"
#include "store/StoreError.h"
#include "utils/FileNameMatch.h"
#include "utils/ShownText.h"

namespace tarmig {

using zenqa::utils::DirectoryReader;
using zenqa::utils::shownText;

namespace {

bool isSymbolicLink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

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
    primaryRead = false;
    if (!zenqa::utils::fileNameMatch(mask, primaryDomain, true)) return getNextDomain(domain, mask);

    DirectoryReader accounts;
    if (!accounts.open(storePath + "/Accounts")) {
        reportStoreError(output, "default domain not found, wrong path");
    }
    domain.initialize(primaryDomain, storePath + "/Accounts");
    primaryRead = true;
    output << "Info: read default domain (" << shownText(domain.name) << ") path: \"" << shownText(domain.path)
           << "\"\n";
    return true;
}

bool Reader::getNextDomain(Domain& domain, const std::string& mask) {
    std::string entry;
    DirectoryReader::Kind kind;
    while (directory.next(entry, kind)) {
        if (!zenqa::utils::fileNameMatch(mask, entry, true)) continue;
        if (kind != DirectoryReader::Directory) {
            // A domain moved to another disk and linked back would otherwise
            // be left out without a word.
            const std::string entryPath = storePath + "/Domains/" + entry;
            output << "Warning: " << (isSymbolicLink(entryPath) ? "symbolic link \"" : "entry \"")
                   << shownText(entryPath) << "\" is not a domain directory, ignored\n";
            continue;
        }
        domain.initialize(entry, storePath + "/Domains/" + entry);
        if (primaryRead && strcasecmp(entry.c_str(), primaryDomain.c_str()) == 0) {
            // Both would fill one domain on the target: this one's accounts
            // would be taken for existing ones and left behind.
            reportStoreError(output, "domain " + shownText(entry) + " in \"" + shownText(domain.path) +
                                         "\" has the name of the primary domain, read from \"" +
                                         shownText(storePath) + "/Accounts\": not read");
        }
        output << "Info: read domain (" << shownText(domain.name) << ") path: \"" << shownText(domain.path) << "\"\n";
        return true;
    }
    return false;
}

}  // namespace tarmig
