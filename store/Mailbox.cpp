#include "store/Mailbox.h"

#include <ostream>
#include <utility>

#include "store/CGException.h"
#include "store/Parser.h"
#include "store/StoreError.h"
#include "store/TreeNode.h"

namespace tarmig {

namespace {

// Parses an account file that the account cannot do without; `kind` names it
// in the error ("settings", "info").
void parseOrFail(const std::string& path, const std::string& kind, TreeNode& tree, std::ostream& output) {
    try {
        Parser::parse(path, tree);
    } catch (const CGParseException& e) {
        reportStoreError(output, "cannot parse " + kind + " file: " + e.what());
    }
}

}  // namespace

Mailbox::Mailbox(std::ostream& output) : output(output) {}

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
        output << "Warning: cannot parse info file: " << e.what() << "\n";
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
    TreeNode info;
    parseOrFail(infoPath, "info", info, output);
    for (auto& [key, entry] : info.children) {
        if (key.empty() || key[0] == '#') continue;
        Folder folder(output);
        folder.initialize(key, path, type);
        std::string folderClass = (*entry)["Class"].value;
        const std::string& count = (*entry)["Messages"].value;
        folder.setClass(folderClass.empty() ? "IPF.Default" : folderClass);
        folder.setMessageCount(count.empty() ? "0" : count);
        folder.setSize((*entry)["Size"].value);
        output << "   Info: read folder \"" << username << "/" << key << "\"" << " size: " << folder.getSize()
               << " messages: " << folder.getMessageCount() << " type: " << folder.getClass() << "\"" << "\n";
        folders.push_back(std::move(folder));
    }
}

}  // namespace tarmig
