#include <openssl/rand.h>

#include <cstddef>
#include <string>
#include <vector>

#include "store/CGException.h"
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

[[noreturn]] void failUnexpected(std::ostream& output, SimpleImapClient::ImapClientResult result) {
    std::string text = "Error: unspecified Imap error " + std::to_string(result) + ".\n";
    failNetwork(output, text, text);
}

// The results every command on an open session can end with: a session that
// is gone (its log line starts "Error: " or "Network Error: ", both are in
// use), a broken connection (3, reported as "cannot " + what) and anything
// nobody expected. All of them end the run.
[[noreturn]] void failSession(std::ostream& output, SimpleImapClient::ImapClientResult result, const std::string& what,
                              const std::string& notConnectedPrefix = "Network Error: ") {
    if (result == SimpleImapClient::NotConnected)
        failNetwork(output, notConnectedPrefix + "client isn't connected to Vantrel\n",
                    "client isn't connected to Vantrel");
    if (result == SimpleImapClient::ConnectionError) failNetwork(output, "Network error: cannot " + what + "\n", "cannot " + what);
    failUnexpected(output, result);
}

// Passwords stay out of the log; the password report holds them.
std::string masked(const std::string& password) { return password.empty() ? "" : "******"; }

// The account value that holds a NUL byte, which IMAP cannot carry, or null.
const char* fieldHoldingNul(const Mailbox& mailbox, const std::string& password) {
    auto holdsNul = [](const std::string& text) { return text.find('\0') != std::string::npos; };
    if (holdsNul(mailbox.username)) return "account name";
    if (holdsNul(mailbox.domain)) return "domain";
    if (holdsNul(password)) return "password";
    if (holdsNul(mailbox.fullName)) return "full name";
    return nullptr;
}

// The run cannot provision accounts without a place for their passwords.
[[noreturn]] void failPasswordReport(std::ostream& output, const std::string& path, const std::string& why) {
    std::string text = "cannot write the password report " + path + ": " + why;
    failNetwork(output, "Error: " + text + "\n", text);
}

}  // namespace

std::string withVisibleNul(const std::string& text) {
    std::string visible;
    for (char c : text) visible += c == '\0' ? std::string("\\0") : std::string(1, c);
    return visible;
}

void replaceForbiddenChars(std::string& text, char replacement) {
    for (std::size_t at = text.find_first_of(forbiddenChars); at != std::string::npos;
         at = text.find_first_of(forbiddenChars, at))
        text[at] = replacement;
}

void Migrator::connect(bool logoutAfterwards) {
    // The socket layer keeps only the low 16 bits of a port: 65679 would reach 143.
    SimpleImapClient::ImapClientResult result = port < 1 || port > 65535 ? SimpleImapClient::ConnectionError
                                          : client.connect(server, static_cast<unsigned>(port), masterPassword, 0);
    switch (result) {
        case SimpleImapClient::Ok:
            if (logoutAfterwards) client.disconnect(true);
            return;
        case SimpleImapClient::AlreadyConnected:
            output << "Warning: client already connected to Vantrel\n" << std::flush;
            return;
        case SimpleImapClient::ConnectionError:
            failNetwork(output, "Network error: cannot connect to Vantrel\n", "cannot connect to Vantrel");
        case SimpleImapClient::AuthenticationFailed:
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
    refusedFolders.clear();
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
    if (const char* field = fieldHoldingNul(mailbox, password)) {
        *this << "Error: cannot create user <" << account << ">: the " << field << " holds a NUL byte\n";
        throw CGStoreException("cannot create user <" + account + ">");
    }
    openPasswordReport();
    SimpleImapClient::ImapClientResult created = client.createUser(mailbox.username, mailbox.domain, password, mailbox.fullName);
    // A lost session says nothing about the account: taking it for an
    // existing one would skip the account and still report success.
    if (created == SimpleImapClient::NotConnected || created == SimpleImapClient::ConnectionError) failSession(output, created, "create user");
    if (created == SimpleImapClient::Ok) {
        output << "   Info: created user <" << account << ">, password: \"" << masked(password) << "\"\n" << std::flush;
        recordPassword("<" + account + ">, password: \"" + password + "\"" + (generated ? " (generated)" : "") + "\n");
        switchUser(mailbox.username, mailbox.domain);
        return true;
    }
    // A refusal may have any reason (a licence limit, a name the server
    // rejects); only a successful identity switch proves the account exists.
    const std::string refusal = client.lastResponseText();
    SimpleImapClient::ImapClientResult found = client.setUser(mailbox.username, mailbox.domain);
    if (found == SimpleImapClient::SetUserFailed) {
        *this << "Error: cannot create user <" << account << ">: " << refusal << "\n";
        throw CGStoreException("cannot create user <" + account + ">");
    }
    if (found != SimpleImapClient::Ok) failSession(output, found, "switch user", "Error: ");
    recordPassword("<" + account + "> already exist, hold current password\n");
    if (!force) {
        *this << "   Info: cannot migrate, user already exist: use \"-force\" argument\n";
        return false;
    }
    currentUser = mailbox.username;
    currentDomain = mailbox.domain;
    return true;
}

void Migrator::openPasswordReport() {
    std::string why = passwordReport.open();
    if (!why.empty()) failPasswordReport(output, passwordReport.path(), why);
}

void Migrator::recordPassword(const std::string& line) {
    std::string why = passwordReport.add(line);
    if (!why.empty()) failPasswordReport(output, passwordReport.path(), why);
}

void Migrator::switchUser(const std::string& username, const std::string& domain) {
    currentUser = username;
    currentDomain = domain;
    SimpleImapClient::ImapClientResult result = client.setUser(username, domain);
    if (result == SimpleImapClient::Ok) return;
    if (result == SimpleImapClient::SetUserFailed) {
        output << "Error: problem with identity switching\n" << std::flush;
        throw CGStoreException("problem with identity switching");
    }
    failSession(output, result, "switch user", "Error: ");
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
    if (name.find('\0') != std::string::npos) {
        output << "Error: cannot create folder \"" << withVisibleNul(name) << "\": the name holds a NUL byte\n"
               << std::flush;
        throw CGStoreException("folder name holds a NUL byte");
    }
    std::string target = name;
    replaceForbiddenChars(target, '_');
    if (target != name) {
        *this << "Warning: folder-name \"" << name << "\" contain forbidden chars. "
              << "Name \"" << target << "\" will be usead instead it.\n";
    }
    for (const std::string& refused : refusedFolders) {
        if (target == refused || target.starts_with(refused + "/")) {
            output << "Error: cannot create folder " << target << ": the server refused to create " << refused
                   << "\n" << std::flush;
            throw CGStoreException("cannot create folder " + target);
        }
    }
    std::string path;
    bool firstLevel = true;
    for (const std::string& level : splitLevels(target)) {
        path = firstLevel ? level : path + "/" + level;
        firstLevel = false;
        SimpleImapClient::ImapClientResult selected = client.select(path);
        if (selected == SimpleImapClient::Ok) continue;
        if (selected != SimpleImapClient::SelectFailed) failNetwork(output, "Error: cannot select folder " + path + "\n", "cannot select folder " + path);
        SimpleImapClient::ImapClientResult created = client.createFolder(path, folder.getType());
        if (created == SimpleImapClient::Ok) continue;
        if (created != SimpleImapClient::CreateFolderFailed) failSession(output, created, "create folder");
        // The server's answer concerns this folder and those below it; the
        // session and the account go on.
        refusedFolders.push_back(path);
        output << "Error: cannot create folder " << path << ": " << client.lastResponseText() << "\n" << std::flush;
        throw CGStoreException("cannot create folder " + path);
    }
}

void Migrator::appendMessage(Folder& folder, IMessage& message, bool useXAppend) {
    std::string target = folder.getName();
    replaceForbiddenChars(target, '_');
    checkAppendResult(client.append(target, &message, useXAppend));
}

void Migrator::checkAppendResult(SimpleImapClient::ImapClientResult result) {
    switch (result) {
        case SimpleImapClient::Ok:
            return;
        case SimpleImapClient::AppendFailed:
            output << "Error: append message error\n" << std::flush;
            throw CGStoreException("append message error");
        case SimpleImapClient::MessageLoadFailed:
            output << "Error: problem with load from IMessage object\n" << std::flush;
            // The literal was announced but not completed: whatever is sent
            // next would become part of this message. Start a fresh session.
            reconnectAsCurrentUser();
            throw CGStoreException("problem with load from IMessage object");
        default:
            failSession(output, result, "append message");
    }
}

}  // namespace tarmig
