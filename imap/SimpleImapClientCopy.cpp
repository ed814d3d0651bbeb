// The reading side of the facade: fetching messages back and copying a
// folder from this connection to another facade.
#include "imap/SimpleImapClient.h"

#include "imap/CaseInsensitive.h"
#include "imap/Command.h"
#include "imap/CommandFetch.h"
#include "imap/CommandFetchBody.h"
#include "imap/FetchMessage.h"
#include "imap/ImapException.h"
#include "imap/Parser.h"

#include <algorithm>
#include <cstdio>

namespace {

const char* const eraseProgress = "\b\b\b\b    \b\b\b\b";

std::string percentText(unsigned copied, unsigned total) {
    auto percent = std::min<unsigned long long>(copied * 100ULL / total, 100);
    char text[8];
    std::snprintf(text, sizeof text, "%3d%%", static_cast<int>(percent));
    return text;
}

}  // namespace

SimpleImapClient::ImapClientResult SimpleImapClient::fetch(unsigned number,
                                                           FetchMessage& message) {
    if (!connected) return NotConnected;
    try {
        message.reset();
        CommandFetch dateAndFlags(connection.transport(), number, message);
        if (dateAndFlags.execute(nullptr) != Command::OK ||
            !dateAndFlags.getDateAndFlags(message))
            return FetchFailed;
        CommandFetchBody body(connection.transport(), number, message);
        return body.execute() == 0 ? Ok : FetchFailed;
    } catch (ImapException& e) {
        return handleImapException(e, FetchFailed);
    }
}

SimpleImapClient::ImapClientResult SimpleImapClient::parseTaggedResponse(const std::string& line) {
    std::string text = line;
    Command::removeEOL(text);
    Parser reader(text);
    std::string tag, status;
    reader.getNode(tag);
    reader.getNode(status);
    return equalsNoCase(status, "OK") ? Ok : FetchFailed;
}

void SimpleImapClient::writeProgress(std::ostream& out, zenqa::tiny::KMutex* outputLock,
                                     const std::string& text) {
    if (outputLock) outputLock->lockWrite();
    out << text << std::flush;
    if (outputLock) outputLock->unlock();
}

SimpleImapClient::ImapClientResult SimpleImapClient::copyFolder(
    const std::string& mailbox, SimpleImapClient& target, unsigned& copied, unsigned& failed,
    std::ostream* progress, zenqa::tiny::KMutex* outputLock, bool showProgress,
    unsigned total) {
    copied = 0;
    failed = 0;
    if (!connected) return NotConnected;
    // Without a total there is no percentage to show.
    bool showing = showProgress && progress && total > 0;
    try {
        if (showing) writeProgress(*progress, outputLock, percentText(0, total));
        connection.transport().send("A FETCH 1:* (INTERNALDATE FLAGS BODY.PEEK[])\r\n");
        FetchMessage message;
        message.attach(connection.transport());
        for (;;) {
            std::string line;
            Command::recvResponseLine(connection.transport(), line);
            if (line[0] != '*') {
                if (showing) writeProgress(*progress, outputLock, eraseProgress);
                return parseTaggedResponse(line);
            }
            if (!loadFetchResponse(line, message)) {
                ++failed;
                return FetchFailed;
            }
            if (target.append(mailbox, &message, false) != Ok) {
                if (wasAborted()) return Ok;
                ++failed;
                return AppendFailed;
            }
            ++copied;
            if (wasAborted()) return Ok;
            if (showing)
                writeProgress(*progress, outputLock,
                              std::string(eraseProgress) + percentText(copied, total));
        }
    } catch (ImapException& e) {
        return handleImapException(e, StatusFailed);
    }
}
