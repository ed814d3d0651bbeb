#include "store/Domain.h"

#include <ostream>
#include <utility>

#include "store/Mailbox.h"
#include "store/StoreError.h"
#include "utils/FileNameMatch.h"

namespace tarmig {

using zenqa::utils::DirectoryReader;

namespace {

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

Domain::Domain(std::ostream& output) : output(output) {}

void Domain::initialize(std::string name, std::string path) {
    this->name = std::move(name);
    this->path = std::move(path);
}

std::string Domain::getUsernameFromFolder(std::string entryName, MailboxType& type) {
    type = MailboxNone;
    // Each suffix needs at least one byte of name before it; a one-letter
    // account stored as "z.mdir" is still an account.
    if (entryName.size() > 6 && endsWith(entryName, ".macnt")) {
        type = MailboxMacnt;
        return entryName.substr(0, entryName.size() - 6);
    }
    if (entryName.size() > 5 && endsWith(entryName, ".mdir")) {
        type = MailboxMdir;
        return entryName.substr(0, entryName.size() - 5);
    }
    return "";
}

std::string Domain::getUsernameFromFile(std::string entryName, MailboxType& type) {
    type = MailboxNone;
    if (entryName.size() <= 5 || !endsWith(entryName, ".mbox")) return "";
    type = MailboxMbox;
    return entryName.substr(0, entryName.size() - 5);
}

bool Domain::getFirstMailbox(Mailbox& mailbox, const std::string& mask) {
    if (!directory.open(path)) {
        reportStoreError(output, "cannot open directory " + path);
    }
    return getNextMailbox(mailbox, mask);
}

bool Domain::getNextMailbox(Mailbox& mailbox, const std::string& mask) {
    std::string entry;
    DirectoryReader::Kind kind;
    while (directory.next(entry, kind)) {
        MailboxType type = MailboxNone;
        std::string account;
        if (kind == DirectoryReader::File) account = getUsernameFromFile(entry, type);
        else if (kind == DirectoryReader::Directory) account = getUsernameFromFolder(entry, type);
        if (account.empty() || !zenqa::utils::fileNameMatch(mask, account, true)) continue;

        mailbox.initialize(account, name, path, account, type);
        // Passwords stay out of the log; the password report holds them.
        output << " Info: read mailbox <" << mailbox.username << ">" << " full name: \"" << mailbox.fullName << "\""
               << " password: \"" << (mailbox.password.empty() ? "" : "******") << "\"" << " size: " << mailbox.size
               << " path: \"" << mailbox.path << "\"\n";
        return true;
    }
    return false;
}

}  // namespace tarmig
