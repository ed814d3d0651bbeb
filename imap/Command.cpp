#include "imap/Command.h"

#include "imap/ImapException.h"
#include "imap/ImapTransport.h"
#include "imap/Parser.h"
#include "utils/StopSwitch.h"
#include "utils/IMessage.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace {

constexpr std::size_t lineReserve = 1024;
// A literal's announced size is not trusted for memory: the response grows
// as the data actually arrives.
constexpr std::size_t maxLiteralReserve = 1024 * 1024;

}  // namespace

void Command::recvResponseLine(ImapTransport& transport, std::string& line, bool byeEnds) {
    transport.recvLine(line);
    if (byeEnds && line.compare(0, 5, "* BYE") == 0) {
        transport.close();
        throw ImapServerBrokeConnection("", 3);
    }
    if (line.empty()) {
        // An answer may still be under way: the connection is out of step
        // and is not worth a LOGOUT that would wait once more.
        transport.close();
        throw ImapTimeoutException("", 3);
    }
}

Command::Command(ImapTransport& transport, const std::string& name)
    : tag(transport.getTag()), name(name), transport(transport) {
    commandText.addParam(tag);
    commandText.addParam(name);
}

Command::~Command() {
    if (answerOwed) transport.commandAnswered();
}

void Command::completeCommandString() { commandText.append("\r\n"); }

Command::Response Command::execute(IMessage* message) {
    start(message);
    return finish();
}

void Command::start(IMessage* message) {
    untaggedResponses.clear();
    taggedResponse.clear();
    completed = false;
    status = BAD;
    if (message == nullptr) {
        completeCommandString();
        zenqa::utils::stopSwitchStep();
        transport.send(commandText.get());
    } else {
        sendWithMessage(*message);
    }
    transport.commandSent();
    answerOwed = true;
}

Command::Response Command::finish() {
    ImapTransport::AnswerDeadline deadline(transport);
    std::string response;
    while (!completed) {
        recvResponse(transport, response);
        fileResponse(response);
    }
    return status;
}

// The command line waits to leave with the first data part, so a connection
// found broken then may have taken nothing of the command: it is still at its
// boundary and goes again whole on a new connection, the message from its start,
// unless answers are still owed on the broken one (the transport refuses then).
void Command::sendWithMessage(IMessage& message) {
    zenqa::utils::stopSwitchStep();
    transport.send(commandText.get(), true, false);
    if (sendMessage(message, transport.bytesSent())) {
        return;
    }
    transport.reopen();
    transport.send(commandText.get(), false, false);
    if (!sendMessage(message, transport.bytesSent())) {
        throw IMessageLoadFailedException("Send failed", 9);
    }
}

bool Command::sendMessage(IMessage& message, std::uint64_t commandStart) {
    try {
        // The server reads exactly the announced count as message data: a byte
        // more would be taken for a command, a byte less would swallow the next one.
        const auto announced = static_cast<std::uint64_t>(message.getFixedSize());
        std::uint64_t delivered = 0;
        std::string& part = transport.partBuffer;
        part.clear();
        for (bool more = message.getFirstDataPart(part); more;
             more = message.getNextDataPart(part)) {
            delivered += part.size();
            if (delivered > announced) throw std::runtime_error("message data longer than announced");
            transport.send(part, false, false);
        }
        if (delivered != announced) throw std::runtime_error("message data shorter than announced");
        // The flush carries literal data too: its failure fails the message.
        transport.send("\r\n", false);
        return true;
    } catch (const ImapConnectionFailed& error) {
        // The failed send closed the connection.
        if (transport.bytesSent() == commandStart) {
            return false;
        }
        throw IMessageLoadFailedException(error.what(), 9);
    } catch (const std::runtime_error& error) {
        // The server is inside the literal now; only a new connection
        // resynchronizes, after the answers owed for earlier commands.
        transport.abandonLiteral();
        throw IMessageLoadFailedException(error.what(), 9);
    }
}

void Command::recvResponse(ImapTransport& transport, std::string& response) {
    std::string line;
    line.reserve(lineReserve);
    response.clear();
    response.reserve(lineReserve);
    for (;;) {
        recvResponseLine(transport, line);
        unsigned int literalLength = 0;
        if (isWholeResponse(line, literalLength)) {
            response += line;
            return;
        }
        response.reserve(response.size() + line.size() + lineReserve +
                         std::min<std::size_t>(literalLength, maxLiteralReserve));
        response += line;
        if (transport.recvData(response, literalLength) != literalLength) {
            transport.close();
            if (transport.timedOut()) {
                throw ImapTimeoutException("", 3);
            }
            throw ImapConnectionFailed("recvData failed", 3);
        }
    }
}

bool Command::fileResponse(std::string& response) {
    Response result = BAD;
    const bool tagged = isTaggedResponse(response, result);
    removeEOL(response);
    if (tagged) {
        taggedResponse = std::move(response);
        status = result;
        completed = true;
        // Only a started command was counted; a login exchange is not.
        if (answerOwed) {
            answerOwed = false;
            transport.commandAnswered();
        }
        zenqa::utils::stopSwitchStep();
    } else {
        untaggedResponses.push_back(std::move(response));
    }
    return tagged;
}

void Command::visitUntagged(std::initializer_list<int> types,
                            const std::function<bool(const ResponseResult&)>& visit) const {
    for (const std::string& text : untaggedResponses) {
        ResponseResult response;
        Parser(text).parseResponse(response);
        if (std::find(types.begin(), types.end(), response.getType()) != types.end() &&
            !visit(response)) {
            return;
        }
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
    completed = false;
    status = BAD;
    completeCommandString();
    // A login is part of opening a connection: nothing in it is sent twice.
    zenqa::utils::stopSwitchStep();
    transport.send(commandText.get(), false);
    ImapTransport::AnswerDeadline deadline(transport);
    const std::string continuation = readChallengeResponse(false);
    std::string answer;
    if (continuation.empty() || continuation[0] != '+' || !respond(continuation, answer)) {
        return NO;
    }
    transport.send(answer + "\r\n", false);
    deadline.restart();
    for (;;) {
        std::string response = readChallengeResponse(true);
        if (fileResponse(response)) {
            return status;
        }
    }
}

// One response of a login exchange; an announced literal is completed line
// by line until more than its count has arrived.
std::string Command::readChallengeResponse(bool afterAnswer) {
    std::string line;
    recvResponseLine(transport, line);
    std::string response = line;
    unsigned int literalLength = 0;
    while (!isWholeResponse(response, literalLength)) {
        std::size_t collected = 0;
        while (collected <= literalLength) {
            recvResponseLine(transport, line, afterAnswer);
            collected += line.size();
            response += line;
        }
    }
    return response;
}
