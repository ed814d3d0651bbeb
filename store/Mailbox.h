#pragma once

#include <iosfwd>
#include <set>
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
    // The same account, with its later lines going to another stream: an
    // account handed to a job of its own keeps its lines with the job's.
    Mailbox(const Mailbox& other, std::ostream& output);
    virtual ~Mailbox() = default;
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // Works out the account's file locations and reads its info and settings
    // files; raises CGStoreException when the settings cannot be read.
    void initialize(std::string username, std::string domain, std::string domainPath, std::string baseName,
                    MailboxType type);
    // Appends one Folder per folder entry of the info file, then one mail
    // folder for each folder on disk that the info file does not list (all
    // of them when it cannot be read: the server rebuilds that file, the
    // disk is the truth). Raises CGStoreException when the account
    // directory cannot be listed.
    void getFolderList(std::vector<Folder>& folders);
    // What the last getFolderList refused or could not list, oldest first.
    std::vector<StoreProblem> takeProblems();

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

private:
    void addFoldersFromDisk(std::vector<Folder>& folders, const std::set<std::string>& listed);
    // Adds the names of the folders stored in `directory`, which is the
    // account directory or one of its .folder directories, each name
    // beginning with `prefix`; symbolic links are refused, not followed.
    void scanFolderDirectory(const std::string& directory, const std::string& prefix,
                             std::set<std::string>& found, const std::set<std::string>& listed);
    void reportOddEntry(const std::string& entryPath);

    std::vector<StoreProblem> problems_;
};

}  // namespace tarmig
