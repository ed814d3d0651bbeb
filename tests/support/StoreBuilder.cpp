#include "support/StoreBuilder.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tarmig::testing {

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tarmig-test-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Tests may leave unreadable entries behind; make them removable first.
    for (auto it = fs::recursive_directory_iterator(path_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (!it->is_symlink(ignored)) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(path_, ignored);
}

static std::string quoted(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string settingsText(const std::map<std::string, std::string>& values) {
    std::string out = "{";
    for (const auto& [key, value] : values) out += key + " = " + quoted(value) + "; ";
    return out + "}\n";
}

std::string infoText(const std::string& storageUsed, const std::vector<FolderEntry>& folders) {
    std::string out = "{";
    if (!storageUsed.empty()) out += "#StorageUsed = #" + storageUsed + "; ";
    for (const auto& f : folders) {
        out += quoted(f.name) + " = {";
        if (!f.folderClass.empty()) out += "Class = " + f.folderClass + "; ";
        if (!f.messages.empty()) out += "Messages = #" + f.messages + "; ";
        if (!f.size.empty()) out += "Size = #" + f.size + "; ";
        out += "}; ";
    }
    return out + "}\n";
}

std::string separatorLine(const MboxMessage& m) {
    return "From <" + m.sender + ">(" + m.flags + "-" + m.uid + ") " + m.timestamp;
}

MboxMessage storedMessage(const std::string& data, const std::string& flags, const std::string& timestamp) {
    MboxMessage m;
    m.data = data;
    m.flags = flags;
    m.timestamp = timestamp;
    return m;
}

std::string mboxText(const std::vector<MboxMessage>& messages) {
    std::string out;
    for (size_t i = 0; i < messages.size(); ++i) {
        if (i > 0) out += "\r\n";
        out += separatorLine(messages[i]) + "\n" + messages[i].data;
    }
    return out;
}

void makeDirs(const std::string& path) { fs::create_directories(path); }

void writeFile(const std::string& path, const std::string& bytes) {
    fs::path p(path);
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool withUnreadableFile(const TempDir& tempDir, const std::string& path, const std::function<bool()>& body) {
    if (chmod(path.c_str(), 0) != 0) return false;
    if (geteuid() != 0) return body();
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        const uid_t nobody = 65534;
        // The temporary directory is private to its creator; let "nobody" through it.
        bool dropped = chmod(tempDir.path().c_str(), 0711) == 0 && setgid(nobody) == 0 && setuid(nobody) == 0;
        _exit(dropped && body() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

StoreBuilder::StoreBuilder(std::string root) : root_(std::move(root)) { makeDirs(root_); }

std::string StoreBuilder::domainDir(const std::string& domain) const {
    return domain.empty() ? root_ + "/Accounts" : root_ + "/Domains/" + domain;
}

std::string StoreBuilder::addMacnt(const std::string& domain, const std::string& name,
                                   const std::string& settings, const std::string& info) {
    std::string dir = domainDir(domain) + "/" + name + ".macnt";
    makeDirs(dir);
    writeFile(dir + "/account.settings", settings);
    writeFile(dir + "/account.info", info);
    return dir;
}

std::string StoreBuilder::addMboxAccount(const std::string& domain, const std::string& name,
                                         const std::string& settings, const std::string& info,
                                         const std::string& mboxBytes) {
    std::string dir = domainDir(domain);
    writeFile(dir + "/" + name + ".settings", settings);
    writeFile(dir + "/" + name + ".info", info);
    writeFile(dir + "/" + name + ".mbox", mboxBytes);
    return dir;
}

std::string StoreBuilder::addMdirAccount(const std::string& domain, const std::string& name,
                                         const std::string& settings, const std::string& info) {
    std::string dir = domainDir(domain);
    writeFile(dir + "/" + name + ".settings", settings);
    writeFile(dir + "/" + name + ".info", info);
    makeDirs(dir + "/" + name + ".mdir");
    return dir + "/" + name + ".mdir";
}

static std::string storePathOf(const std::string& folder) {
    std::string out;
    for (char c : folder) out += (c == '/') ? std::string(".folder/") : std::string(1, c);
    return out;
}

std::string StoreBuilder::addMboxFolder(const std::string& accountDir, const std::string& folder,
                                        const std::string& mboxBytes) {
    std::string path = accountDir + "/" + storePathOf(folder) + ".mbox";
    writeFile(path, mboxBytes);
    return path;
}

std::string StoreBuilder::addMdirFolder(const std::string& accountDir, const std::string& folder) {
    std::string path = accountDir + "/" + storePathOf(folder) + ".mdir";
    makeDirs(path);
    return path;
}

std::string StoreBuilder::addMdirMessage(const std::string& mdirDir, const std::string& flags,
                                         const std::string& stamp14, const std::string& data) {
    std::string path = mdirDir + "/" + std::to_string(++mdirCounter_) + "-" + flags + "-" + stamp14 + "-x";
    writeFile(path, data);
    return path;
}

}  // namespace tarmig::testing
