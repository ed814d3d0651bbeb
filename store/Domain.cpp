#include "store/Domain.h"

#include <sys/stat.h>

#include <ostream>
#include <utility>

#include "store/Mailbox.h"
#include "store/StoreError.h"
#include "utils/FileNameMatch.h"
#include "utils/ShownText.h"

namespace tarmig {

using zenqa::utils::DirectoryReader;
using zenqa::utils::shownText;

namespace {

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Entries the server keeps beside its accounts: the domain's Settings
// directory, the service files of single-file and message-directory accounts
// and their web directories. They are expected, so they raise no warning.
bool isServerEntry(const std::string& entry, DirectoryReader::Kind kind) {
    if (kind == DirectoryReader::Directory) return entry == "Settings" || endsWith(entry, ".web");
    if (kind == DirectoryReader::File) {
        return endsWith(entry, ".settings") || endsWith(entry, ".info") || endsWith(entry, ".prefs");
    }
    return false;
}

std::string lowerCase(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool isSymbolicLink(const std::string& entryPath) {
    struct stat st;
    return lstat(entryPath.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

}  // namespace

Domain::Domain(std::ostream& output) : output(output) {}

Domain::~Domain() = default;

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
    levels.clear();
    accountsSeen.clear();
    auto top = std::make_unique<Level>();
    top->path = path;
    if (!top->directory.open(path)) {
        reportStoreError(output, "cannot open directory " + shownText(path));
    }
    levels.push_back(std::move(top));
    return getNextMailbox(mailbox, mask);
}

bool Domain::getNextMailbox(Mailbox& mailbox, const std::string& mask) {
    std::string entry;
    DirectoryReader::Kind kind;
    while (!levels.empty()) {
        Level& level = *levels.back();
        if (!level.directory.next(entry, kind)) {
            levels.pop_back();
            continue;
        }
        MailboxType type = MailboxNone;
        std::string account;
        if (kind == DirectoryReader::File) account = getUsernameFromFile(entry, type);
        else if (kind == DirectoryReader::Directory) account = getUsernameFromFolder(entry, type);
        if (account.empty()) {
            if (kind == DirectoryReader::Directory && endsWith(entry, ".sub")) {
                enterSubdirectory(mailbox, entry);
            } else if (kind == DirectoryReader::Other) {
                refuseLinkedAccounts(mailbox, level.path, entry, mask);
            } else if (!isServerEntry(entry, kind)) {
                reportIgnored(level.path + "/" + entry, kind);
            }
            continue;
        }
        if (!zenqa::utils::fileNameMatch(mask, account, true)) continue;
        if (!accountsSeen.insert(lowerCase(account)).second) {
            // The walk names the failed item by the mailbox's user name.
            mailbox.username = account;
            reportStoreError(output, "account <" + shownText(account) + "> is stored a second time in \"" +
                                         shownText(level.path + "/" + entry) +
                                         "\", not read: its name is taken by an account read before");
        }

        mailbox.initialize(account, name, level.path, account, type);
        // Passwords stay out of the log; the password report holds them.
        output << " Info: read mailbox <" << shownText(mailbox.username) << ">" << " full name: \""
               << shownText(mailbox.fullName) << "\"" << " password: \"" << (mailbox.password.empty() ? "" : "******")
               << "\"" << " size: " << shownText(mailbox.size) << " path: \"" << shownText(mailbox.path) << "\"\n";
        return true;
    }
    return false;
}

void Domain::enterSubdirectory(Mailbox& mailbox, const std::string& entry) {
    auto sub = std::make_unique<Level>();
    sub->path = levels.back()->path + "/" + entry;
    if (!sub->directory.open(sub->path)) {
        // The walk names the failed item by the mailbox's user name; here that
        // is the directory, relative to the domain, whose accounts are lost.
        mailbox.username = sub->path.substr(path.size() + 1);
        reportStoreError(output, "cannot open directory " + shownText(sub->path));
    }
    levels.push_back(std::move(sub));
}

// A link is never followed, but one that stands where an account or a .sub
// directory would stand hides accounts: those fail rather than pass as a warning.
void Domain::refuseLinkedAccounts(Mailbox& mailbox, const std::string& levelPath, const std::string& entry,
                                  const std::string& mask) {
    const std::string entryPath = levelPath + "/" + entry;
    MailboxType type = MailboxNone;
    std::string account = getUsernameFromFolder(entry, type);
    if (account.empty()) account = getUsernameFromFile(entry, type);
    bool hidesAccounts = isSymbolicLink(entryPath) &&
                         (account.empty() ? endsWith(entry, ".sub") : zenqa::utils::fileNameMatch(mask, account, true));
    if (!hidesAccounts) {
        reportIgnored(entryPath, DirectoryReader::Other);
        return;
    }
    // The walk names the failed item by the mailbox's user name.
    mailbox.username = account.empty() ? entryPath.substr(path.size() + 1) : account;
    reportStoreError(output, "symbolic link \"" + shownText(entryPath) + "\" in domain " + shownText(name) +
                                 " is not followed: its accounts are not read");
}

void Domain::reportIgnored(const std::string& entryPath, DirectoryReader::Kind kind) {
    bool link = kind == DirectoryReader::Other && isSymbolicLink(entryPath);
    const char* what = link                                 ? "symbolic link"
                       : kind == DirectoryReader::Directory ? "directory"
                       : kind == DirectoryReader::File      ? "file"
                                                            : "special file";
    output << "Warning: " << what << " \"" << shownText(entryPath) << "\" in domain " << shownText(name)
           << (link ? " is not followed, ignored\n" : " is not an account, ignored\n");
}

}  // namespace tarmig
