#include <string>

#include "migrator/AccountJob.h"
#include "migrator/SharedRun.h"
#include "migrator/TargetSession.h"
#include "store/CGException.h"
#include "store/Folder.h"

namespace tarmig {

// Each message's data is streamed whole before the next is read, so the one
// reused Message serves every append in flight. When the connection breaks
// with appends in flight, their messages are not sent again: the server may
// have stored any of them before its answer was lost, and a second copy is
// worse than a line naming the message. The run ends as for one append, the
// oldest unanswered message carries the network error line and each other
// gets a line of its own, counted as failed.
void AccountJob::sendMessage(const std::string& target, IMessage& message, int position, bool useXAppend) {
    const AppendInFlight append{position, message.getFixedSize()};
    const SimpleImapClient::ImapClientResult sent = client.sendAppend(target, &message, useXAppend);
    if (sent == SimpleImapClient::Ok) {
        appendsInFlight.push_back(append);
        while (client.appendWindowFull()) collectOldestAppend();
        return;
    }
    // The messages before this one are reported first, as without a window;
    // a source that failed inside its literal left their answers readable.
    if (sent == SimpleImapClient::AppendFailed || sent == SimpleImapClient::MessageLoadFailed) collectAppends();
    settleAppend(append, sent);
}

void AccountJob::collectAppends() {
    while (!appendsInFlight.empty()) collectOldestAppend();
}

void AccountJob::collectOldestAppend() {
    const AppendInFlight oldest = appendsInFlight.front();
    appendsInFlight.pop_front();
    settleAppend(oldest, client.collectAppend());
}

void AccountJob::settleAppend(const AppendInFlight& append, SimpleImapClient::ImapClientResult result) {
    if (result != SimpleImapClient::Ok && result != SimpleImapClient::AppendFailed &&
        result != SimpleImapClient::MessageLoadFailed) {
        for (const AppendInFlight& unanswered : appendsInFlight) {
            reportSkipped("Error: cannot migrate message nr.: " + std::to_string(unanswered.position) +
                          ", unconfirmed: the connection broke before its answer (the server may have stored it)\n");
            ++counts.messagesFailed;
        }
        appendsInFlight.clear();
    }
    try {
        checkAppendResult(result);
        ++counts.messagesAppended;
        counts.bytesSent += append.size;
        shared.progress.messageSent(append.size);
    } catch (const CGStoreException&) {
        reportSkipped("Error: cannot migrate message nr.: " + std::to_string(append.position) + "\n");
        ++counts.messagesFailed;
        if (identityLost) throw;
    }
}

void AccountJob::appendMessage(Folder& folder, IMessage& message, bool useXAppend) {
    std::string target = folder.getName();
    replaceForbiddenChars(target, '_');
    checkAppendResult(client.append(target, &message, useXAppend));
}

void AccountJob::checkAppendResult(SimpleImapClient::ImapClientResult result) {
    switch (result) {
        case SimpleImapClient::Ok:
            return;
        case SimpleImapClient::AppendFailed:
            output.log() << "Error: append message error\n" << std::flush;
            throw CGStoreException("append message error");
        case SimpleImapClient::MessageLoadFailed:
            output.log() << "Error: problem with load from IMessage object\n" << std::flush;
            // The literal was announced but not completed: whatever is sent
            // next would become part of this message. Start a fresh session.
            reconnectAsCurrentUser();
            throw CGStoreException("problem with load from IMessage object");
        default:
            failSession(output.log(), result, "append message");
    }
}

}  // namespace tarmig
