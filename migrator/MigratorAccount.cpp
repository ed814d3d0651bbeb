#include <algorithm>
#include <climits>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "store/CGException.h"
#include "migrator/Migrator.h"
#include "store/Folder.h"
#include "store/Mailbox.h"
#include "store/Message.h"

namespace tarmig {

void Migrator::transferAccount(Mailbox& mailbox) {
    accountFailed = false;
    identityLost = false;
    try {
        connect(false);
        if (!setUser(mailbox)) {
            client.disconnect(true);
            ++statistics.accountsSkipped;
            endAccount(AccountReport::Skipped);
            return;
        }
        bool useXAppend = client.isXAppendSupported();
        if (useXAppend) {
            output << "Info: Vantrel 6.3.0 or newer detected, search indexing disabled (improve migration speed)."
                   << "\n" << std::flush;
        }
        std::vector<Folder> folders;
        try {
            mailbox.getFolderList(folders);
        } catch (const CGStoreException&) {
            output << "Error: cannot read folder list" << "\n" << std::flush;
            throw;
        }
        reportProblems(mailbox.takeProblems());
        for (Folder& folder : folders) transferFolder(mailbox, folder, useXAppend);
        client.disconnect(true);
        ++(accountFailed ? statistics.accountsFailed : statistics.accountsMigrated);
        endAccount(accountFailed ? AccountReport::Failed : AccountReport::Migrated);
    } catch (const CGNetworkException& e) {
        if (!quiet) std::cout << "\n" << std::flush;
        client.disconnect(true);
        ++statistics.accountsFailed;
        // The driver logs this line once the run has ended.
        endAccount(AccountReport::Failed, std::string("Error: ") + e.what());
        throw;
    } catch (const CGStoreException&) {
        client.disconnect(true);
        throw;
    }
}

void Migrator::transferFolder(Mailbox& mailbox, Folder& folder, bool useXAppend) {
    int count = 0;
    int shownCount = 0;
    try {
        if (folder.isFromDisk()) {
            *this << "Warning: folder \"" << folder.getName()
                  << "\" is not in the account's info file, migrated from disk\n";
        }
        createFolder(folder);
        *this << "   - \"" << folder.getName() << "\", messages: ";
        // A count beyond int is pinned, not wrapped.
        long stored = std::strtol(folder.getMessageCount().c_str(), nullptr, 10);
        count = static_cast<int>(std::clamp<long>(stored, INT_MIN, INT_MAX));
        output << count << "\n" << std::flush;
        shownCount = count;
        // The info file is rebuilt by the server and may be stale: the
        // storage is read whatever the count says. Only a folder said to
        // hold messages must have storage; any other is empty.
        if (count > 0 || folder.storageExists(mailbox.username)) {
            int found = transferMessages(mailbox, folder, count, useXAppend);
            if (found != count && !folder.isFromDisk()) {
                output << "Warning: folder \"" << folder.getName() << "\": " << found
                       << " messages read, the account's info file says " << count << "\n"
                       << std::flush;
            }
            shownCount = found;
        } else {
            shownCount = 0;
        }
        ++statistics.counts.foldersMigrated;
    } catch (const CGStoreException&) {
        reportSkipped("Error: cannot migrate folder \"" + withVisibleNul(folder.getName()) + "\"\n");
        ++statistics.counts.foldersFailed;
        if (identityLost) throw;
    }
    if (!quiet) std::cout << shownCount << "\n" << std::flush;
}

int Migrator::transferMessages(Mailbox& mailbox, Folder& folder, int count, bool useXAppend) {
    Message message(folder);
    std::string target = folder.getName();
    replaceForbiddenChars(target, '_');
    appendsInFlight.clear();
    int shown = 0;
    int found = 0;
    try {
        // Without a count the counter waits for the first message; its
        // total grows with the messages found, never shown below them.
        if (count > 0) shown = printProgress(1, count, quiet);
        folder.openMessagesFile(mailbox.username);
        for (bool more = folder.getFirstMessage(message, fixLineEnds);;
             more = folder.getNextMessage(message, fixLineEnds)) {
            found += reportProblems(folder.takeProblems());
            if (!more) break;
            ++found;
            shown = replaceProgress(shown, found, std::max(count, found), quiet);
            sendMessage(target, message, found, useXAppend);
        }
        collectAppends();
        clearOutput(shown, quiet);
        folder.closeMessagesFile();
    } catch (const CGStoreException&) {
        // The messages already sent are answered before the connection goes.
        collectAppends();
        reportProblems(folder.takeProblems());
        // The failure may have come in the middle of a command; continue on a
        // fresh connection in the same account, without provisioning it again.
        if (!identityLost) reconnectAsCurrentUser();
        folder.closeMessagesFile();
        throw;
    }
    return found;
}

// Each message's data is streamed whole before the next is read, so the one
// reused Message serves every append in flight. When the connection breaks
// with appends in flight, their messages are not sent again: the server may
// have stored any of them before its answer was lost, and a second copy is
// worse than a line naming the message. The run ends as for one append, the
// oldest unanswered message carries the network error line and each other
// gets a line of its own, counted as failed.
void Migrator::sendMessage(const std::string& target, IMessage& message, int position,
                           bool useXAppend) {
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

void Migrator::collectAppends() {
    while (!appendsInFlight.empty()) collectOldestAppend();
}

void Migrator::collectOldestAppend() {
    const AppendInFlight oldest = appendsInFlight.front();
    appendsInFlight.pop_front();
    settleAppend(oldest, client.collectAppend());
}

void Migrator::settleAppend(const AppendInFlight& append, SimpleImapClient::ImapClientResult result) {
    if (result != SimpleImapClient::Ok && result != SimpleImapClient::AppendFailed &&
        result != SimpleImapClient::MessageLoadFailed) {
        for (const AppendInFlight& unanswered : appendsInFlight) {
            reportSkipped("Error: cannot migrate message nr.: " + std::to_string(unanswered.position) +
                          ", unconfirmed: the connection broke before its answer (the server may have stored it)\n");
            ++statistics.counts.messagesFailed;
        }
        appendsInFlight.clear();
    }
    try {
        checkAppendResult(result);
        ++statistics.counts.messagesAppended;
        statistics.counts.bytesSent += append.size;
    } catch (const CGStoreException&) {
        reportSkipped("Error: cannot migrate message nr.: " + std::to_string(append.position) + "\n");
        ++statistics.counts.messagesFailed;
        if (identityLost) throw;
    }
}

void Migrator::reportSkipped(const std::string& errorLine) {
    if (!quiet) std::cout << "\n" << std::flush;
    *this << errorLine;
    succeeded = false;
    accountFailed = true;
}

int Migrator::reportProblems(const std::vector<StoreProblem>& problems) {
    int messages = 0;
    for (const StoreProblem& problem : problems) {
        reportSkipped(problem.line);
        if (problem.loss == StoreProblem::LostMessage) {
            ++statistics.counts.messagesFailed;
            ++messages;
        } else if (problem.loss == StoreProblem::LostFolder) {
            ++statistics.counts.foldersFailed;
        }
    }
    return messages;
}

}  // namespace tarmig
