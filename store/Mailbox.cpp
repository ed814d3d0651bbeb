#include "store/Mailbox.h"

#include <sys/stat.h>

#include <ostream>
#include <string_view>
#include <utility>

#include "store/CGException.h"
#include "store/Parser.h"
#include "store/StoreError.h"
#include "store/TreeNode.h"
#include "utils/DirectoryReader.h"
#include "utils/ShownText.h"

namespace tarmig {

using zenqa::utils::shownText;

namespace {

// Parses an account file that the account cannot do without; `kind` names it
// in the error ("settings", "info").
void parseOrFail(const std::string& path, const std::string& kind, TreeNode& tree, std::ostream& output) {
    try {
        Parser::parse(path, tree);
    } catch (const CGParseException& e) {
        reportStoreError(output, "cannot parse " + kind + " file: " + shownText(e.what()));
    }
}

// The folder name part of an entry with the given suffix, if it has it.
bool cutSuffix(const std::string& entry, std::string_view suffix, std::string& base) {
    if (entry.size() <= suffix.size() || !entry.ends_with(suffix)) return false;
    base = entry.substr(0, entry.size() - suffix.size());
    return true;
}

}  // namespace

Mailbox::Mailbox(std::ostream& output) : output(output) {}

Mailbox::Mailbox(const Mailbox& other, std::ostream& output)
    : path(other.path),
      username(other.username),
      domain(other.domain),
      fullName(other.fullName),
      password(other.password),
      size(other.size),
      infoPath(other.infoPath),
      settingsPath(other.settingsPath),
      type(other.type),
      output(output),
      problems_(other.problems_) {}

void Mailbox::initialize(std::string username, std::string domain, std::string domainPath, std::string baseName,
                         MailboxType type) {
    this->username = std::move(username);
    this->domain = std::move(domain);
    this->type = type;
    switch (type) {
    case MailboxMacnt:
        path = domainPath + "/" + baseName + ".macnt";
        infoPath = path + "/account.info";
        settingsPath = path + "/account.settings";
        break;
    case MailboxMdir:
        path = domainPath + "/" + baseName + ".mdir";
        infoPath = domainPath + "/" + baseName + ".info";
        settingsPath = domainPath + "/" + baseName + ".settings";
        break;
    default:
        path = domainPath;
        infoPath = domainPath + "/" + baseName + ".info";
        settingsPath = domainPath + "/" + baseName + ".settings";
    }

    try {
        TreeNode info;
        Parser::parse(infoPath, info);
        size = info["#StorageUsed"].value;
    } catch (const CGParseException& e) {
        output << "Warning: cannot parse info file: " << shownText(e.what()) << "\n";
        size = "unknown";
    }

    TreeNode settings;
    parseOrFail(settingsPath, "settings", settings, output);
    fullName = settings["RealName"].value;
    // Only a password stored in clear text can be carried over.
    const std::string& encryption = settings["PasswordEncryption"].value;
    password = (encryption.empty() || encryption == "clear") ? settings["Password"].value : std::string();
}

void Mailbox::getFolderList(std::vector<Folder>& folders) {
    problems_.clear();
    std::set<std::string> listed;
    TreeNode info;
    try {
        Parser::parse(infoPath, info);
    } catch (const CGParseException& e) {
        // initialize() has warned about the file already; of a file that
        // breaks off, no part is trusted.
        info.children.clear();
        output << "   Info: folders of \"" << shownText(username)
               << "\" taken from disk: cannot parse info file: " << shownText(e.what()) << "\n";
    }
    for (auto& [key, entry] : info.children) {
        if (key.empty() || key[0] == '#') continue;
        Folder folder(output);
        folder.initialize(key, path, type);
        std::string folderClass = (*entry)["Class"].value;
        const std::string& count = (*entry)["Messages"].value;
        folder.setClass(folderClass.empty() ? "IPF.Default" : folderClass);
        folder.setMessageCount(count.empty() ? "0" : count);
        folder.setSize((*entry)["Size"].value);
        output << "   Info: read folder \"" << shownText(username + "/" + key) << "\"" << " size: "
               << shownText(folder.getSize()) << " messages: " << shownText(folder.getMessageCount())
               << " type: " << shownText(folder.getClass()) << "\"" << "\n";
        folders.push_back(std::move(folder));
        listed.insert(key);
    }
    addFoldersFromDisk(folders, listed);
}

std::vector<StoreProblem> Mailbox::takeProblems() { return std::exchange(problems_, {}); }

void Mailbox::addFoldersFromDisk(std::vector<Folder>& folders, const std::set<std::string>& listed) {
    std::set<std::string> found;  // byte order: a parent before its subfolders
    if (type == MailboxMacnt) {
        scanFolderDirectory(path, "", found, listed);
    } else {
        // The account's own storage is its inbox, its only folder.
        found.insert("INBOX");
    }
    for (const std::string& name : found) {
        if (listed.count(name)) continue;
        Folder folder(output);
        folder.initialize(name, path, type);
        folder.setClass("IPF.Note");
        folder.setFromDisk(true);
        output << "   Info: found folder \"" << shownText(username + "/" + name) << "\" on disk\n";
        folders.push_back(std::move(folder));
    }
}

void Mailbox::scanFolderDirectory(const std::string& directory, const std::string& prefix,
                                  std::set<std::string>& found, const std::set<std::string>& listed) {
    zenqa::utils::DirectoryReader reader;
    if (!reader.open(directory)) {
        if (prefix.empty()) reportStoreError(output, "cannot read account directory \"" + shownText(directory) + "\"");
        problems_.push_back(
            {"Error: cannot read folder directory \"" + shownText(directory) + "\"\n", StoreProblem::LostFolder});
        return;
    }
    std::string entry;
    std::string base;
    zenqa::utils::DirectoryReader::Kind kind;
    while (reader.next(entry, kind)) {
        const bool isMbox = cutSuffix(entry, ".mbox", base);
        const bool isMdir = !isMbox && cutSuffix(entry, ".mdir", base);
        const bool isFolder = !isMbox && !isMdir && cutSuffix(entry, ".folder", base);
        if (!isMbox && !isMdir && !isFolder) continue;
        const std::string entryPath = directory + "/" + entry;
        if (kind == zenqa::utils::DirectoryReader::Other) {
            // A listed folder's own storage is refused when the folder is opened.
            struct stat st;
            if (::lstat(entryPath.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
                reportOddEntry(entryPath);
                continue;
            }
            if (!isFolder && listed.count(prefix + base)) continue;
            problems_.push_back(
                {"Error: folder storage \"" + shownText(entryPath) + "\" is a symbolic link, not read\n",
                 StoreProblem::LostFolder});
        } else if (isFolder && kind == zenqa::utils::DirectoryReader::Directory) {
            scanFolderDirectory(entryPath, prefix + base + "/", found, listed);
        } else if ((isMbox && kind == zenqa::utils::DirectoryReader::File) ||
                   (isMdir && kind == zenqa::utils::DirectoryReader::Directory)) {
            found.insert(prefix + base);
        } else if (isFolder || !listed.count(prefix + base)) {
            reportOddEntry(entryPath);
        }
    }
}

// A FIFO, or a file or directory of the wrong kind for its name, holds no
// folder the reader can read; the log says it was passed over.
void Mailbox::reportOddEntry(const std::string& entryPath) {
    output << "Warning: \"" << shownText(entryPath) << "\" is not a folder's storage of its kind, not read\n";
}

}  // namespace tarmig
