#include <openssl/rand.h>

#include <cstddef>
#include <string>
#include <vector>

#include "migrator/CGException.h"
#include "migrator/Migrator.h"
#include "store/Folder.h"
#include "store/Mailbox.h"

namespace tarmig {

namespace {

constexpr const char* forbiddenChars = "<>:*?\"|\\";

// Splits a folder path at every "/", keeping empty levels; "" gives none.
std::vector<std::string> splitLevels(const std::string& path) {
    std::vector<std::string> levels;
    if (path.empty()) return levels;
    std::size_t start = 0;
    for (std::size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1)
        levels.push_back(path.substr(start, slash - start));
    levels.push_back(path.substr(start));
    return levels;
}

[[noreturn]] void failNetwork(std::ostream& output, const std::string& logLine, const std::string& text) {
    output << logLine << std::flush;
    throw CGNetworkException(text);
}

[[noreturn]] void failUnexpected(std::ostream& output, int result) {
    std::string text = "Error: unspecified Imap error " + std::to_string(result) + ".\n";
    failNetwork(output, text, text);
}

}  // namespace

void replaceForbiddenChars(std::string& text, char replacement) {
    for (std::size_t at = text.find_first_of(forbiddenChars); at != std::string::npos;
         at = text.find_first_of(forbiddenChars, at))
        text[at] = replacement;
}

void Migrator::connect(bool logoutAfterwards) {
    int result = client.connect(server, static_cast<unsigned>(port), masterPassword, 0);
    switch (result) {
        case 0:
            if (logoutAfterwards) client.disconnect(true);
            return;
        case 2:
            output << "Warning: client already connected to Vantrel\n" << std::flush;
            return;
        case 3:
            failNetwork(output, "Network error: cannot connect to Vantrel\n", "cannot connect to Vantrel");
        case 4:
            failNetwork(output, "Error: problem with authentication to Vantrel\n",
                        "problem with authentication to Vantrel");
        default:
            failUnexpected(output, result);
    }
}

std::string Migrator::generatePassword(int length) {
    static constexpr char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    constexpr unsigned alphabetSize = sizeof alphabet - 1;
    // Bytes at or above the largest multiple of the alphabet size are drawn
    // again, so every character is equally likely.
    constexpr unsigned limit = 256 / alphabetSize * alphabetSize;
    std::string password;
    while (static_cast<int>(password.size()) < length) {
        unsigned char bytes[32];
        if (RAND_bytes(bytes, sizeof bytes) != 1) throw CGStoreException("cannot generate a password");
        for (unsigned char byte : bytes) {
            if (byte < limit && static_cast<int>(password.size()) < length) password += alphabet[byte % alphabetSize];
        }
    }
    return password;
}

bool Migrator::setUser(Mailbox& mailbox) {
    std::string password;
    bool generated = false;
    if (!forceSetPass.empty()) {
        password = forceSetPass;
    } else if (!mailbox.password.empty()) {
        password = mailbox.password;
    } else if (!setPass.empty()) {
        password = setPass;
    } else {
        password = generatePassword(6);
        generated = true;
    }
    const std::string account = mailbox.username + "@" + mailbox.domain;
    if (client.createUser(mailbox.username, mailbox.domain, password, mailbox.fullName) == 0) {
        output << "   Info: created user <" << account << ">, password: \"" << password << "\"\n" << std::flush;
        passwordReport << "<" << account << ">, password: \"" << password << "\""
                       << (generated ? " (generated)" : "") << "\n";
    } else {
        passwordReport << "<" << account << "> already exist, hold current password\n";
        if (!force) {
            *this << "   Info: cannot migrate, user already exist: use \"-force\" argument\n";
            return false;
        }
    }
    switchUser(mailbox.username, mailbox.domain);
    return true;
}

void Migrator::switchUser(const std::string& username, const std::string& domain) {
    currentUser = username;
    currentDomain = domain;
    int result = client.setUser(username, domain);
    switch (result) {
        case 0:
            return;
        case 1:
            failNetwork(output, "Error: client isn't connected to Vantrel\n", "client isn't connected to Vantrel");
        case 3:
            failNetwork(output, "Network error: cannot switch user\n", "cannot switch user");
        case 6:
            output << "Error: problem with identity switching\n" << std::flush;
            throw CGStoreException("problem with identity switching");
        default:
            failUnexpected(output, result);
    }
}

void Migrator::reconnectAsCurrentUser() {
    client.disconnect(false);
    connect(false);
    try {
        switchUser(currentUser, currentDomain);
    } catch (const CGStoreException&) {
        // The new session acts as the master: nothing more may be written
        // for this account.
        identityLost = true;
        throw;
    }
}

void Migrator::createFolder(Folder& folder) {
    const std::string& name = folder.getName();
    std::string target = name;
    replaceForbiddenChars(target, '_');
    if (target != name) {
        *this << "Warning: folder-name \"" << name << "\" contain forbidden chars. "
              << "Name \"" << target << "\" will be usead instead it.\n";
    }
    std::string path;
    bool firstLevel = true;
    for (const std::string& level : splitLevels(target)) {
        path = firstLevel ? level : path + "/" + level;
        firstLevel = false;
        int selected = client.select(path);
        if (selected == 0) continue;
        if (selected != 10) failNetwork(output, "Error: cannot select folder " + path + "\n", "cannot select folder " + path);
        int created = client.createFolder(path, folder.getType());
        switch (created) {
            case 0:
                continue;
            case 3:
                failNetwork(output, "Network error: cannot create folder\n", "cannot create folder");
            case 7:
                failNetwork(output, "Error: cannot create folder " + path + "\n", "cannot create folder " + path);
            case 1:
                failNetwork(output, "Network Error: client isn't connected to Vantrel\n",
                            "client isn't connected to Vantrel");
            default:
                failUnexpected(output, created);
        }
    }
}

void Migrator::appendMessage(Folder& folder, IMessage& message, bool useXAppend) {
    std::string target = folder.getName();
    replaceForbiddenChars(target, '_');
    int result = client.append(target, &message, useXAppend);
    switch (result) {
        case 0:
            return;
        case 1:
            failNetwork(output, "Network Error: client isn't connected to Vantrel\n",
                        "client isn't connected to Vantrel");
        case 3:
            failNetwork(output, "Network error: cannot append message\n", "cannot append message");
        case 8:
            output << "Error: append message error\n" << std::flush;
            throw CGStoreException("append message error");
        case 9:
            output << "Error: problem with load from IMessage object\n" << std::flush;
            // The literal was announced but not completed: whatever is sent
            // next would become part of this message. Start a fresh session.
            reconnectAsCurrentUser();
            throw CGStoreException("problem with load from IMessage object");
        default:
            failUnexpected(output, result);
    }
}

}  // namespace tarmig
