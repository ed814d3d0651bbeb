#include <openssl/rand.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "store/CGException.h"
#include "migrator/AccountJob.h"
#include "migrator/PasswordReport.h"
#include "migrator/SharedRun.h"
#include "migrator/TargetSession.h"
#include "store/Folder.h"
#include "store/Mailbox.h"
#include "utils/ShownText.h"

namespace tarmig {

using zenqa::utils::shownText;

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

// Passwords stay out of the log; the password report holds them.
std::string masked(const std::string& password) { return password.empty() ? "" : "******"; }

// The password report's line of a created account. A password with control
// bytes cannot break the report's lines either: it is shown with escapes, and
// the line says so, as it cannot be typed as shown.
std::string passwordLine(const std::string& account, const std::string& password, bool generated) {
    const std::string shown = shownText(password);
    return "<" + account + ">, password: \"" + shown + "\"" + (generated ? " (generated)" : "") +
           (shown != password ? " (shown with escapes)" : "") + "\n";
}

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
[[noreturn]] void failPasswordReport(std::ostream& log, const std::string& path, const std::string& why) {
    std::string text = "cannot write the password report " + path + ": " + why;
    failNetwork(log, "Error: " + text + "\n", text);
}

// Only this run knows a generated password, so its line is on disk before
// the account can exist, and is taken back only where the server surely did
// not create the account. The report stays locked for the round trip: jobs
// side by side create accounts with generated passwords one at a time.
SimpleImapClient::ImapClientResult createAhead(PasswordReport& report, std::ostream& log, const std::string& account,
                                               const std::string& line,
                                               const std::function<SimpleImapClient::ImapClientResult()>& create) {
    PasswordReport::Ahead ahead = report.addAhead(line);
    if (!ahead.why().empty()) failPasswordReport(log, report.path(), ahead.why());
    SimpleImapClient::ImapClientResult created = create();
    if (created == SimpleImapClient::CreateUserFailed || created == SimpleImapClient::NotConnected) {
        if (std::string why = ahead.takeBack(); !why.empty()) failPasswordReport(log, report.path(), why);
    } else if (created != SimpleImapClient::Ok) {
        ahead.keep();
        log << "   Info: the password report keeps the generated password of <" << account
            << ">: the account may have been created\n" << std::flush;
    }
    return created;
}

}  // namespace

void replaceForbiddenChars(std::string& text, char replacement) {
    for (std::size_t at = text.find_first_of(forbiddenChars); at != std::string::npos;
         at = text.find_first_of(forbiddenChars, at))
        text[at] = replacement;
}

void AccountJob::connect(bool logoutAfterwards) { connectMaster(client, settings, output.log(), logoutAfterwards); }

std::string AccountJob::generatePassword(int length) {
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

bool AccountJob::setUser(Mailbox& mailbox) {
    refusedFolders.clear();
    std::string password;
    bool generated = false;
    if (!settings.forceSetPass.empty()) {
        password = settings.forceSetPass;
    } else if (!mailbox.password.empty()) {
        password = mailbox.password;
    } else if (!settings.setPass.empty()) {
        password = settings.setPass;
    } else {
        password = generatePassword(6);
        generated = true;
    }
    const std::string account = shownText(mailbox.username + "@" + mailbox.domain);
    if (const char* field = fieldHoldingNul(mailbox, password)) {
        output << "Error: cannot create user <" << account << ">: the " << field << " holds a NUL byte\n";
        throw CGStoreException("cannot create user <" + account + ">");
    }
    openPasswordReport();
    auto create = [&] { return client.createUser(mailbox.username, mailbox.domain, password, mailbox.fullName); };
    SimpleImapClient::ImapClientResult created =
        generated ? createAhead(shared.passwordReport, output.log(), account, passwordLine(account, password, true), create)
                  : create();
    // A lost session says nothing about the account: taking it for an
    // existing one would skip the account and still report success.
    if (created == SimpleImapClient::NotConnected || created == SimpleImapClient::ConnectionError) failSession(output.log(), created, "create user");
    accountCreated = created == SimpleImapClient::Ok;
    if (created == SimpleImapClient::Ok) {
        output.log() << "   Info: created user <" << account << ">, password: \"" << masked(password) << "\"\n" << std::flush;
        if (!generated) recordPassword(passwordLine(account, password, false));
        switchUser(mailbox.username, mailbox.domain);
        return true;
    }
    // A refusal may have any reason (a licence limit, a name the server
    // rejects); only a successful identity switch proves the account exists.
    const std::string refusal = shownText(client.lastResponseText());
    SimpleImapClient::ImapClientResult found = client.setUser(mailbox.username, mailbox.domain);
    if (found == SimpleImapClient::SetUserFailed) {
        output << "Error: cannot create user <" << account << ">: " << refusal << "\n";
        throw CGStoreException("cannot create user <" + account + ">");
    }
    if (found != SimpleImapClient::Ok) failSession(output.log(), found, "switch user", "Error: ");
    recordPassword("<" + account + "> already exist, hold current password\n");
    if (!settings.force && !settings.incremental) {
        output << "   Info: cannot migrate, user already exist: use \"-force\" argument\n";
        return false;
    }
    currentUser = mailbox.username;
    currentDomain = mailbox.domain;
    return true;
}

void AccountJob::openPasswordReport() {
    std::string why = shared.passwordReport.open();
    if (!why.empty()) failPasswordReport(output.log(), shared.passwordReport.path(), why);
}

void AccountJob::recordPassword(const std::string& line) {
    std::string why = shared.passwordReport.add(line);
    if (!why.empty()) failPasswordReport(output.log(), shared.passwordReport.path(), why);
}

void AccountJob::switchUser(const std::string& username, const std::string& domain) {
    currentUser = username;
    currentDomain = domain;
    SimpleImapClient::ImapClientResult result = client.setUser(username, domain);
    if (result == SimpleImapClient::Ok) return;
    if (result == SimpleImapClient::SetUserFailed) {
        output.log() << "Error: problem with identity switching\n" << std::flush;
        throw CGStoreException("problem with identity switching");
    }
    failSession(output.log(), result, "switch user", "Error: ");
}

void AccountJob::reconnectAsCurrentUser() {
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

void AccountJob::createFolder(Folder& folder) { createLevels(targetName(folder), folder.getType()); }

std::string AccountJob::targetName(Folder& folder) {
    const std::string& name = folder.getName();
    if (name.find('\0') != std::string::npos) {
        output.log() << "Error: cannot create folder \"" << shownText(name) << "\": the name holds a NUL byte\n"
               << std::flush;
        throw CGStoreException("folder name holds a NUL byte");
    }
    std::string target = name;
    replaceForbiddenChars(target, '_');
    if (target != name) {
        output << "Warning: folder-name \"" << shownText(name) << "\" contain forbidden chars. "
              << "Name \"" << shownText(target) << "\" will be usead instead it.\n";
    }
    for (const std::string& refused : refusedFolders) {
        if (target == refused || target.starts_with(refused + "/")) {
            output.log() << "Error: cannot create folder " << shownText(target) << ": the server refused to create "
                         << shownText(refused) << "\n" << std::flush;
            throw CGStoreException("cannot create folder " + shownText(target));
        }
    }
    return target;
}

void AccountJob::createLevels(const std::string& target, ImapFolderType type) {
    std::string path;
    bool firstLevel = true;
    for (const std::string& level : splitLevels(target)) {
        path = firstLevel ? level : path + "/" + level;
        firstLevel = false;
        SimpleImapClient::ImapClientResult selected = client.select(path);
        if (selected == SimpleImapClient::Ok) continue;
        if (selected != SimpleImapClient::SelectFailed) {
            const std::string text = "cannot select folder " + shownText(path);
            failNetwork(output.log(), "Error: " + text + "\n", text);
        }
        SimpleImapClient::ImapClientResult created = client.createFolder(path, type);
        if (created == SimpleImapClient::Ok) continue;
        if (created != SimpleImapClient::CreateFolderFailed) failSession(output.log(), created, "create folder");
        // The server's answer concerns this folder and those below it; the
        // session and the account go on.
        refusedFolders.push_back(path);
        output.log() << "Error: cannot create folder " << shownText(path) << ": "
                     << shownText(client.lastResponseText()) << "\n" << std::flush;
        throw CGStoreException("cannot create folder " + shownText(path));
    }
}

}  // namespace tarmig
