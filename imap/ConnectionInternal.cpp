#include "imap/ConnectionInternal.h"

#include "imap/CaseInsensitive.h"
#include "imap/CommandAuthCramMD5.h"
#include "imap/CommandXMasterAuth.h"
#include "imap/CommandXSetUser.h"
#include "imap/ImapException.h"
#include "imap/Parser.h"

#include <string_view>

namespace {

// Whether the greeting's "[CAPABILITY ...]" response code lists the word.
bool greetingAnnounces(const std::string& greeting, std::string_view word) {
    const std::string_view text(greeting);
    std::size_t at = 0;
    for (; at < text.size(); ++at) {
        if (text[at] == '[' && equalsNoCase(text.substr(at + 1, 11), "CAPABILITY ")) break;
    }
    if (at >= text.size()) return false;
    const std::size_t end = text.find(']', at);
    std::string_view codes = text.substr(at + 12, end == std::string_view::npos ? end : end - at - 12);
    while (!codes.empty()) {
        const std::size_t space = codes.find(' ');
        if (equalsNoCase(codes.substr(0, space), word)) return true;
        if (space == std::string_view::npos) break;
        codes.remove_prefix(space + 1);
    }
    return false;
}

}  // namespace

ConnectionInternal::ConnectionInternal() = default;

ConnectionInternal::~ConnectionInternal() {
    try {
        const State current = getState();
        if ((current == Authenticated || current == Selected) && imapTransport.streamGood()) {
            Command command(imapTransport, "LOGOUT");
            command.execute(nullptr);
        }
    } catch (...) {
        // A server gone before LOGOUT changes nothing for a connection being destroyed.
    }
    try {
        close();
    } catch (...) {
    }
}

void ConnectionInternal::initialize(const std::string& host, unsigned port,
                                    const std::string& user, const std::string& password,
                                    bool useCramMD5, unsigned timeoutSeconds, bool useSsl) {
    this->host = host;
    this->port = port;
    this->user = user;
    this->password = password;
    this->useCramMD5 = useCramMD5;
    this->timeoutSeconds = timeoutSeconds;
    this->useSsl = useSsl;
    masterAuth = false;
}

void ConnectionInternal::initialize(const std::string& host, unsigned port,
                                    const std::string& masterPassword, unsigned timeoutSeconds,
                                    bool useSsl) {
    this->host = host;
    this->port = port;
    password = masterPassword;
    this->timeoutSeconds = timeoutSeconds;
    this->useSsl = useSsl;
    masterAuth = true;
    useCramMD5 = false;
}

void ConnectionInternal::init(bool login) {
    currentAccount.clear();
    open(login);
}

void ConnectionInternal::reconnect() {
    close();
    open(true);
}

// A write that fails while the connection is being opened is that opening's
// failure, not a reason to open another one.
bool ConnectionInternal::reopen() {
    if (opening) {
        return false;
    }
    reconnect();
    return true;
}

void ConnectionInternal::open(bool login) {
    struct OpeningFlag {
        bool& flag;
        explicit OpeningFlag(bool& flag) : flag(flag) { flag = true; }
        ~OpeningFlag() { flag = false; }
    } openingFlag(opening);
    literalPlus = false;
    try {
        imapTransport.connect(host, port, useSsl, timeoutSeconds);
        enter(Connected);
        if (!imapTransport.recvGreeting(greeting)) {
            close();
            throw ImapConnectionFailed("", 3);
        }
        if (!imapTransport.streamGood() || greeting.empty() ||
            greeting.find("* BYE") != std::string::npos) {
            close();
            throw ImapConnectionFailed(greeting, 3);
        }
        literalPlus = greetingAnnounces(greeting, "LITERAL+");
        if (login) {
            this->login();
            if (!currentAccount.empty()) {
                applyRememberedAccount();
            }
        }
    } catch (const ImapException&) {
        close();
        throw;
    }
}

// Without this a reconnect would leave later commands in the master's context.
void ConnectionInternal::applyRememberedAccount() {
    Command::Response result = Command::BAD;
    try {
        CommandXSetUser command(imapTransport, currentAccount);
        result = command.execute(nullptr);
    } catch (const ImapException&) {
        result = Command::BAD;
    }
    if (result != Command::OK) {
        throw ImapConnectionFailed("Send failed", 3);
    }
}

void ConnectionInternal::login() {
    if (masterAuth) {
        masterAuthenticate();
    } else if (useCramMD5) {
        authenticateCramMD5();
    } else {
        Command command(imapTransport, "LOGIN");
        command.addParamString(user);
        command.addParamString(password);
        if (command.execute(nullptr) != Command::OK) {
            throw AuthenticateFailedException("Authentication failed - Login");
        }
        setState(Authenticated);
    }
}

void ConnectionInternal::masterAuthenticate() {
    CommandXMasterAuth command(imapTransport, password);
    if (command.execute() != Command::OK) {
        throw AuthenticateFailedException("Authentication failed - Master Authentication");
    }
    setState(Authenticated);
}

void ConnectionInternal::authenticateCramMD5() {
    CommandAuthCramMD5 command(imapTransport, user, password);
    if (command.execute() != Command::OK) {
        throw AuthenticateFailedException("Authentication failed - Authentication CRAM-MD5");
    }
    setState(Authenticated);
}

Command::Response ConnectionInternal::setUser(CommandXSetUser& command) {
    const Command::Response result = command.execute(nullptr);
    if (result == Command::OK) {
        currentAccount = command.getAccount();
    }
    return result;
}

void ConnectionInternal::logout() {
    if (getState() == Disconnected) {
        // Sending would open a new connection only to close it; after a
        // time-out that could wait a second full time-out.
        currentAccount.clear();
        return;
    }
    Command command(imapTransport, "LOGOUT");
    try {
        command.execute(nullptr);
    } catch (const ImapServerBrokeConnection&) {
        // The BYE is the server's normal answer to LOGOUT.
    }
    currentAccount.clear();
    enter(Disconnected);
}

void ConnectionInternal::close() {
    imapTransport.close();
    state = Disconnected;
}

// The transport lets commands through exactly while the session is not Disconnected.
void ConnectionInternal::enter(State newState) {
    state = newState;
    imapTransport.setOpen(newState != Disconnected);
}

void ConnectionInternal::setState(State newState) {
    const State current = getState();
    bool allowed = false;
    switch (current) {
    case Disconnected:
        allowed = newState == Connected;
        break;
    case Connected:
        allowed = newState == Disconnected || newState == Authenticated;
        break;
    case Authenticated:
        allowed = newState == Disconnected || newState == Connected || newState == Selected;
        break;
    case Selected:
        allowed = newState == Disconnected || newState == Authenticated;
        break;
    }
    if (allowed) {
        enter(newState);
    }
}

std::vector<std::string> ConnectionInternal::getCapability() {
    if (!capabilities.empty()) {
        return capabilities;
    }
    Command command(imapTransport, "CAPABILITY");
    if (command.execute(nullptr) != Command::OK) {
        return capabilities;
    }
    std::string tagged;
    std::vector<std::string> untagged;
    command.getResponse(tagged, untagged);
    if (untagged.empty()) {
        throw ImapConnectionFailed("", 3);
    }
    ResponseResult response;
    Parser(untagged.front()).parseResponse(response);
    Parser words(response.getString());
    std::string word;
    while (words.getNode(word)) {
        if (!word.empty()) {
            capabilities.push_back(word);
        }
    }
    return capabilities;
}
