#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

// Writes CommuniGate stores for tests from a description, so each test shows
// exactly the store it relies on.
namespace tarmig::testing {

// A directory under the system's temporary directory, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// One message as stored in a .mbox file.
struct MboxMessage {
    std::string data;                           // exact message bytes
    std::string flags;                          // store flag letters, e.g. "SA"
    std::string uid = "1";
    std::string timestamp = "20-02-2004_12:34:56_";  // either store form
    std::string sender = "sender@example.com";
};

// One folder entry of an account's info file.
struct FolderEntry {
    std::string name;         // "/" separates levels
    std::string folderClass;  // empty: no Class key
    std::string messages;     // empty: no Messages key
    std::string size;         // empty: no Size key
};

// Settings dictionary text for the given key/value pairs (values quoted).
std::string settingsText(const std::map<std::string, std::string>& values);
// Info file text with #StorageUsed (omitted when empty) and the folder entries.
std::string infoText(const std::string& storageUsed, const std::vector<FolderEntry>& folders);
// .mbox file bytes: each message as its separator line and its data; two
// bytes (CR LF) separate a message from the next separator line.
std::string mboxText(const std::vector<MboxMessage>& messages);
// A message with its flag letters and separator timestamp, the other fields as their defaults.
MboxMessage storedMessage(const std::string& data, const std::string& flags, const std::string& timestamp);
// The separator line of a message, without its LF.
std::string separatorLine(const MboxMessage& message);

void writeFile(const std::string& path, const std::string& bytes);
std::string readFile(const std::string& path);
void makeDirs(const std::string& path);

// Runs `body` while `path` (inside `tempDir`) cannot be opened for reading and
// returns its verdict. Root reads anything, so as root the body runs in a child
// process that has dropped to the unprivileged user "nobody".
bool withUnreadableFile(const TempDir& tempDir, const std::string& path, const std::function<bool()>& body);

class StoreBuilder {
public:
    explicit StoreBuilder(std::string root);

    const std::string& root() const { return root_; }
    // Directory of a domain: the primary domain (empty name) is <root>/Accounts.
    std::string domainDir(const std::string& domain) const;

    // Account skeletons; each returns the account's storage path.
    std::string addMacnt(const std::string& domain, const std::string& name,
                         const std::string& settings, const std::string& info);
    std::string addMboxAccount(const std::string& domain, const std::string& name,
                               const std::string& settings, const std::string& info,
                               const std::string& mboxBytes);
    std::string addMdirAccount(const std::string& domain, const std::string& name,
                               const std::string& settings, const std::string& info);

    // Folder storage inside a .macnt account directory; "/" levels become .folder dirs.
    std::string addMboxFolder(const std::string& accountDir, const std::string& folder,
                              const std::string& mboxBytes);
    std::string addMdirFolder(const std::string& accountDir, const std::string& folder);
    // A message file "<n>-<flags>-<stamp14>-x" in a .mdir directory; returns its path.
    std::string addMdirMessage(const std::string& mdirDir, const std::string& flags,
                               const std::string& stamp14, const std::string& data);

private:
    std::string root_;
    int mdirCounter_ = 0;
};

}  // namespace tarmig::testing
