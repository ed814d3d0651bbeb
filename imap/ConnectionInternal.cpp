#include "imap/ConnectionInternal.h"

#include "imap/CaseInsensitive.h"
#include "imap/Command.h"
#include "imap/CommandAuthCramMD5.h"
#include "imap/CommandXMasterAuth.h"
#include "imap/CommandXSetUser.h"
#include "imap/ImapException.h"
#include "imap/Parser.h"
#include "utils/CantResolveException.h"
#include "utils/InetSocketAddress.h"

#include <algorithm>

namespace {

constexpr std::size_t inputBufferSize = 4096;
// A small message (command line, data and line end) fits whole and leaves in
// one write; a larger part goes out directly after the pending bytes.
constexpr std::size_t outputBufferSize = 65536;
constexpr unsigned chunkSize = 10240;
// No response line of ours comes near this; a longer one is a broken or hostile
// peer, and reading on would only exhaust memory.
constexpr std::size_t maxLineLength = 16 * 1024 * 1024;

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

ConnectionInternal::ConnectionInternal() : chunk(chunkSize) { partBuffer.reserve(chunkSize); }

ConnectionInternal::~ConnectionInternal() {
    try {
        if ((state == Authenticated || state == Selected) && streamGood()) {
            Command command(*this, "LOGOUT");
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

void ConnectionInternal::openStream() {
    try {
        const zenqa::utils::InetSocketAddress remote(host, port);
        const zenqa::utils::InetSocketAddress local = zenqa::utils::InetSocketAddress::any();
        if (useSsl) {
            stream = std::make_unique<zenqa::utils::basic_tcpclientiostream>(
                remote, local, inputBufferSize, outputBufferSize, true, tlsSettings);
        } else {
            stream = std::make_unique<zenqa::utils::basic_tcpclientiostream>(
                remote, local, inputBufferSize, outputBufferSize);
        }
    } catch (const zenqa::utils::CantResolveException&) {
        throw ImapConnectionFailed("", 3);
    }
    stream->setTimeoutInSeconds(timeoutSeconds);
}

void ConnectionInternal::init(bool login) {
    currentAccount.clear();
    open(login);
}

void ConnectionInternal::reconnect() {
    close();
    open(true);
}

ConnectionInternal::AnswerDeadline::AnswerDeadline(ConnectionInternal& connection)
    : connection(connection) {
    restart();
}

ConnectionInternal::AnswerDeadline::~AnswerDeadline() {
    if (connection.stream) {
        connection.stream->clearReadDeadline();
    }
}

void ConnectionInternal::AnswerDeadline::restart() {
    if (connection.stream) {
        connection.stream->startReadDeadline();
    }
}

void ConnectionInternal::open(bool login) {
    struct OpeningFlag {
        bool& flag;
        explicit OpeningFlag(bool& flag) : flag(flag) { flag = true; }
        ~OpeningFlag() { flag = false; }
    } openingFlag(opening);
    readTimedOut = false;
    literalPlus = false;
    try {
        openStream();
        stream->create();
        if (!streamGood()) {
            close();
            throw ImapConnectionFailed("", 3);
        }
        state = Connected;
        greeting.clear();
        bool whole = false;
        {
            AnswerDeadline deadline(*this);
            whole = stream->getLine(greeting, maxLineLength) && !cutByTimeout();
        }
        if (!whole) {
            close();
            throw ImapConnectionFailed("", 3);
        }
        if (!streamGood() || greeting.empty() || greeting.find("* BYE") != std::string::npos) {
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
        CommandXSetUser command(*this, currentAccount);
        result = command.execute();
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
        Command command(*this, "LOGIN");
        command.addParamString(user);
        command.addParamString(password);
        if (command.execute(nullptr) != Command::OK) {
            throw AuthenticateFailedException("Authentication failed - Login");
        }
        setState(Authenticated);
    }
}

void ConnectionInternal::masterAuthenticate() {
    CommandXMasterAuth command(*this, password);
    if (command.execute() != Command::OK) {
        throw AuthenticateFailedException("Authentication failed - Master Authentication");
    }
    setState(Authenticated);
}

void ConnectionInternal::authenticateCramMD5() {
    CommandAuthCramMD5 command(*this, user, password);
    if (command.execute() != Command::OK) {
        throw AuthenticateFailedException("Authentication failed - Authentication CRAM-MD5");
    }
    setState(Authenticated);
}

void ConnectionInternal::logout() {
    if (state == Disconnected) {
        // Sending would open a new connection only to close it; after a
        // time-out that could wait a second full time-out.
        currentAccount.clear();
        return;
    }
    Command command(*this, "LOGOUT");
    try {
        command.execute(nullptr);
    } catch (const ImapServerBrokeConnection&) {
        // The BYE is the server's normal answer to LOGOUT.
    }
    currentAccount.clear();
    state = Disconnected;
}

void ConnectionInternal::close() {
    if (stream) {
        stream->close();
    }
    state = Disconnected;
    awaitingAnswers = 0;
    sendingStopped = false;
}

void ConnectionInternal::abandonLiteral() {
    if (awaitingAnswers == 0) {
        close();
    } else {
        sendingStopped = true;
    }
}

void ConnectionInternal::setState(State newState) {
    bool allowed = false;
    switch (state) {
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
        state = newState;
    }
}

void ConnectionInternal::setTimeout(unsigned seconds) {
    if (stream) {
        stream->setTimeoutInSeconds(seconds);
    }
}

// After a read that came short: whether the time ran out (remembered, and
// the stream's end-of-input state cleared) rather than the peer closing.
bool ConnectionInternal::cutByTimeout() {
    if (!stream->eof() || !stream->timedOut()) {
        return false;
    }
    readTimedOut = true;
    stream->clear();
    return true;
}

bool ConnectionInternal::streamGood() {
    if (!stream) {
        return false;
    }
    if (stream->eof()) {
        stream->clear();
        return true;
    }
    return stream->rdstate() == std::ios::goodbit;
}

void ConnectionInternal::write(const std::string& text, bool flush) {
    stream->write(text.data(), static_cast<std::streamsize>(text.size()));
    if (flush) {
        stream->flush();
    }
}

bool ConnectionInternal::send(const std::string& text, bool atCommandBoundary, bool flush) {
    if (streamGood() && state != Disconnected && !sendingStopped) {
        write(text, flush);
        if (streamGood() && state != Disconnected) {
            return true;
        }
    }
    // Only a whole command may be sent again on a new connection: resent
    // literal data would reach the server as command text. Answers owed for
    // earlier commands would be lost with the old connection.
    if (!atCommandBoundary || opening || awaitingAnswers > 0 || sendingStopped) {
        close();
        throw ImapConnectionFailed("Send failed", 3);
    }
    reconnect();
    write(text, flush);
    if (!streamGood()) {
        close();
        throw ImapConnectionFailed("Send failed", 3);
    }
    return true;
}

bool ConnectionInternal::recvLine(std::string& line) {
    line.clear();
    if (streamGood() && state != Disconnected) {
        const bool withinLimit = stream->getLine(line, maxLineLength);
        if (cutByTimeout()) {
            // Part of a line is no line: the caller sees a time-out.
            line.clear();
            return true;
        }
        if (withinLimit && streamGood() && state != Disconnected) {
            if (!line.empty()) {
                line += '\n';
            }
            return true;
        }
    }
    close();
    throw ImapConnectionFailed("recvLine failed", 3);
}

unsigned ConnectionInternal::recvData(std::string& out, unsigned count) {
    if (!stream || state == Disconnected) {
        return 0;
    }
    unsigned remaining = count;
    while (remaining > 0) {
        const unsigned wanted = std::min(remaining, chunkSize);
        stream->read(chunk.data(), wanted);
        const auto received = static_cast<unsigned>(stream->gcount());
        out.append(chunk.data(), received);
        remaining -= received;
        if (received < wanted) {
            cutByTimeout();
            break;
        }
    }
    return count - remaining;
}

std::string ConnectionInternal::getTag() {
    std::string tag = "T";
    tag += std::to_string(tagCounter++);
    return tag;
}

std::vector<std::string> ConnectionInternal::getCapability() {
    if (!capabilities.empty()) {
        return capabilities;
    }
    Command command(*this, "CAPABILITY");
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
