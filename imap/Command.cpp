#include "imap/Command.h"

#include "imap/ConnectionInternal.h"
#include "imap/ImapException.h"
#include "imap/Parser.h"
#include "utils/IMessage.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

constexpr std::size_t lineReserve = 1024;
// A literal's announced size is not trusted for memory: the response grows
// as the data actually arrives.
constexpr std::size_t maxLiteralReserve = 1024 * 1024;

bool startsWithBye(const std::string& line) { return line.compare(0, 5, "* BYE") == 0; }

}  // namespace

Command::Command(ConnectionInternal& connection, const std::string& name)
    : tag(connection.getTag()), name(name), connection(connection) {
    commandText.addParam(tag);
    commandText.addParam(name);
}

void Command::completeCommandString() { commandText.append("\r\n"); }

Command::Response Command::execute(IMessage* message) {
    untaggedResponses.clear();
    taggedResponse.clear();
    if (message == nullptr) {
        completeCommandString();
    }
    connection.send(commandText.get());
    if (message != nullptr) {
        sendMessage(*message);
        connection.send("\r\n", false);
    }
    Response result = BAD;
    readResponses(result);
    return result;
}

void Command::sendMessage(IMessage& message) {
    try {
        std::string& part = connection.partBuffer;
        part.clear();
        for (bool more = message.getFirstDataPart(part); more;
             more = message.getNextDataPart(part)) {
            connection.send(part, false);
        }
    } catch (const std::runtime_error& error) {
        // The server is inside the literal now; only a new connection resynchronizes.
        connection.close();
        throw IMessageLoadFailedException(error.what(), 9);
    }
}

void Command::readResponses(Response& result) {
    std::string line;
    line.reserve(lineReserve);
    std::string response;
    response.reserve(lineReserve);
    for (;;) {
        connection.recvLine(line);
        if (startsWithBye(line)) {
            connection.close();
            throw ImapServerBrokeConnection("", 3);
        }
        if (line.empty()) {
            throw ImapTimeoutException("", 3);
        }
        unsigned int literalLength = 0;
        if (!isWholeResponse(line, literalLength)) {
            response.reserve(response.size() + line.size() + lineReserve +
                             std::min<std::size_t>(literalLength, maxLiteralReserve));
            response += line;
            if (connection.recvData(response, literalLength) != literalLength) {
                connection.close();
                throw ImapConnectionFailed("recvData failed", 3);
            }
            continue;
        }
        response += line;
        const bool tagged = isTaggedResponse(response, result);
        removeEOL(response);
        if (tagged) {
            taggedResponse = std::move(response);
            return;
        }
        untaggedResponses.push_back(std::move(response));
        response.clear();
    }
}

void Command::getResponse(std::string& tagged, std::vector<std::string>& untagged) const {
    tagged = taggedResponse;
    untagged = untaggedResponses;
}

bool Command::isWholeResponse(const std::string& line, unsigned int& literalLength) {
    if (line.size() < 3 || line[line.size() - 3] != '}') {
        return true;
    }
    const auto open = line.rfind('{');
    long long count = open == std::string::npos ? 0 : std::strtoll(line.c_str() + open + 1, nullptr, 10);
    count = std::clamp<long long>(count, 0, std::numeric_limits<unsigned int>::max());
    literalLength = static_cast<unsigned int>(count);
    return false;
}

bool Command::isTaggedResponse(const std::string& response, Response& result) const {
    if (response.compare(0, tag.size(), tag) != 0) {
        return false;
    }
    // T1 must not claim the completion of T10.
    zenqa::mail::imap::Position it = tag.size();
    if (it < response.size() && response[it] != ' ' && response[it] != '\r' &&
        response[it] != '\n') {
        return false;
    }
    zenqa::mail::imap::skipSpace(response, it);
    if (zenqa::mail::imap::testWord(response, it, "OK")) {
        result = OK;
    } else if (zenqa::mail::imap::testWord(response, it, "NO")) {
        result = NO;
    } else {
        result = BAD;
    }
    return true;
}

void Command::removeEOL(std::string& text) {
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
}

Command::Response Command::executeChallenge(
    const std::function<bool(const std::string& continuation, std::string& answer)>& respond) {
    untaggedResponses.clear();
    taggedResponse.clear();
    completeCommandString();
    // A login is part of opening a connection: nothing in it is sent twice.
    connection.send(commandText.get(), false);
    const std::string continuation = readChallengeResponse(false);
    std::string answer;
    if (continuation.empty() || continuation[0] != '+' || !respond(continuation, answer)) {
        return NO;
    }
    connection.send(answer + "\r\n", false);
    for (;;) {
        std::string response = readChallengeResponse(true);
        Response result = BAD;
        const bool tagged = isTaggedResponse(response, result);
        removeEOL(response);
        if (tagged) {
            taggedResponse = std::move(response);
            return result;
        }
        untaggedResponses.push_back(std::move(response));
    }
}

// One response of a login exchange; an announced literal is completed line
// by line until more than its count has arrived.
std::string Command::readChallengeResponse(bool afterAnswer) {
    std::string line;
    connection.recvLine(line);
    if (startsWithBye(line)) {
        connection.close();
        throw ImapServerBrokeConnection("", 3);
    }
    if (line.empty()) {
        throw ImapTimeoutException("", 3);
    }
    std::string response = line;
    unsigned int literalLength = 0;
    while (!isWholeResponse(response, literalLength)) {
        std::size_t collected = 0;
        while (collected <= literalLength) {
            connection.recvLine(line);
            if (line.empty()) {
                throw ImapTimeoutException("", 3);
            }
            if (afterAnswer && startsWithBye(line)) {
                connection.close();
                throw ImapServerBrokeConnection("", 3);
            }
            collected += line.size();
            response += line;
        }
    }
    return response;
}
