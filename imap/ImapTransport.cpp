#include "imap/ImapTransport.h"

#include "imap/ImapException.h"
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

}  // namespace

ImapTransport::ImapTransport(Session* session) : session(session), chunk(chunkSize) {
    partBuffer.reserve(chunkSize);
}

void ImapTransport::connect(const std::string& host, unsigned port, bool useSsl,
                            unsigned timeoutSeconds) {
    readTimedOut = false;
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
        close();
        throw ImapConnectionFailed("", 3);
    }
    stream->setTimeoutInSeconds(timeoutSeconds);
    stream->create();
    if (!streamGood()) {
        close();
        throw ImapConnectionFailed("", 3);
    }
}

bool ImapTransport::recvGreeting(std::string& greeting) {
    greeting.clear();
    AnswerDeadline deadline(*this);
    return stream->getLine(greeting, maxLineLength) && !cutByTimeout();
}

void ImapTransport::close() {
    if (stream) {
        stream->close();
    }
    open = false;
    sendingStopped = false;
}

void ImapTransport::abandonLiteral() {
    if (awaitingAnswers == 0) {
        close();
    } else {
        sendingStopped = true;
    }
}

ImapTransport::AnswerDeadline::AnswerDeadline(ImapTransport& transport) : transport(transport) {
    restart();
}

ImapTransport::AnswerDeadline::~AnswerDeadline() {
    if (transport.stream) {
        transport.stream->clearReadDeadline();
    }
}

void ImapTransport::AnswerDeadline::restart() {
    if (transport.stream) {
        transport.stream->startReadDeadline();
    }
}

void ImapTransport::setTimeout(unsigned seconds) {
    if (stream) {
        stream->setTimeoutInSeconds(seconds);
    }
}

// After a read that came short: whether the time ran out (remembered, and
// the stream's end-of-input state cleared) rather than the peer closing.
bool ImapTransport::cutByTimeout() {
    if (!stream->eof() || !stream->timedOut()) {
        return false;
    }
    readTimedOut = true;
    stream->clear();
    return true;
}

bool ImapTransport::streamGood() {
    if (!stream) {
        return false;
    }
    if (stream->eof()) {
        stream->clear();
        return true;
    }
    return stream->rdstate() == std::ios::goodbit;
}

void ImapTransport::write(const std::string& text, bool flush) {
    stream->write(text.data(), static_cast<std::streamsize>(text.size()));
    if (flush) {
        stream->flush();
    }
}

bool ImapTransport::send(const std::string& text, bool atCommandBoundary, bool flush) {
    if (streamGood() && open && !sendingStopped) {
        write(text, flush);
        if (streamGood() && open) {
            return true;
        }
    }
    // Only a whole command may be sent again on a new connection: resent
    // literal data would reach the server as command text. Answers owed for
    // earlier commands would be lost with the old connection.
    if (!atCommandBoundary || awaitingAnswers > 0 || sendingStopped || session == nullptr ||
        !session->reopen()) {
        close();
        throw ImapConnectionFailed("Send failed", 3);
    }
    write(text, flush);
    if (!streamGood()) {
        close();
        throw ImapConnectionFailed("Send failed", 3);
    }
    return true;
}

void ImapTransport::reopen() {
    // The answers owed for earlier commands would go with the old connection.
    if (awaitingAnswers > 0 || session == nullptr || !session->reopen()) {
        throw ImapConnectionFailed("Send failed", 3);
    }
}

bool ImapTransport::recvLine(std::string& line) {
    line.clear();
    if (streamGood() && open) {
        const bool withinLimit = stream->getLine(line, maxLineLength);
        if (cutByTimeout()) {
            // Part of a line is no line: the caller sees a time-out.
            line.clear();
            return true;
        }
        if (withinLimit && streamGood() && open) {
            if (!line.empty()) {
                line += '\n';
            }
            return true;
        }
    }
    close();
    throw ImapConnectionFailed("recvLine failed", 3);
}

unsigned ImapTransport::recvData(std::string& out, unsigned count) {
    if (!stream || !open) {
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

std::string ImapTransport::getTag() {
    std::string tag = "T";
    tag += std::to_string(tagCounter++);
    return tag;
}
