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
        for (Folder& folder : folders) transferFolder(mailbox, folder, useXAppend);
        client.disconnect(true);
        ++(accountFailed ? statistics.accountsFailed : statistics.accountsMigrated);
    } catch (const CGNetworkException&) {
        if (!quiet) std::cout << "\n" << std::flush;
        client.disconnect(true);
        ++statistics.accountsFailed;
        throw;
    } catch (const CGStoreException&) {
        client.disconnect(true);
        throw;
    }
}

void Migrator::transferFolder(Mailbox& mailbox, Folder& folder, bool useXAppend) {
    int count = 0;
    try {
        createFolder(folder);
        *this << "   - \"" << folder.getName() << "\", messages: ";
        // A count beyond int is pinned, not wrapped: wrapped to 0 or below it
        // would leave the folder's messages unread.
        long stored = std::strtol(folder.getMessageCount().c_str(), nullptr, 10);
        count = static_cast<int>(std::clamp<long>(stored, INT_MIN, INT_MAX));
        output << count << "\n" << std::flush;
        if (count > 0) transferMessages(mailbox, folder, count, useXAppend);
        ++statistics.foldersMigrated;
    } catch (const CGStoreException&) {
        reportSkipped("Error: cannot migrate folder \"" + folder.getName() + "\"\n");
        ++statistics.foldersFailed;
        if (identityLost) throw;
    }
    if (!quiet) std::cout << count << "\n" << std::flush;
}

void Migrator::transferMessages(Mailbox& mailbox, Folder& folder, int count, bool useXAppend) {
    Message message(folder);
    int shown = 0;
    try {
        shown = printProgress(1, count, quiet);
        folder.openMessagesFile(mailbox.username);
        int position = 1;
        for (bool more = folder.getFirstMessage(message, fixLineEnds); more;
             more = folder.getNextMessage(message, fixLineEnds), ++position) {
            shown = replaceProgress(shown, position, count, quiet);
            try {
                appendMessage(folder, message, useXAppend);
                ++statistics.messagesAppended;
                statistics.bytesSent += message.getFixedSize();
            } catch (const CGStoreException&) {
                reportSkipped("Error: cannot migrate message nr.: " + std::to_string(position) + "\n");
                ++statistics.messagesFailed;
                if (identityLost) throw;
            }
        }
        clearOutput(shown, quiet);
        folder.closeMessagesFile();
    } catch (const CGStoreException&) {
        // The failure may have come in the middle of a command; continue on a
        // fresh connection in the same account, without provisioning it again.
        if (!identityLost) reconnectAsCurrentUser();
        folder.closeMessagesFile();
        throw;
    }
}

void Migrator::reportSkipped(const std::string& errorLine) {
    if (!quiet) std::cout << "\n" << std::flush;
    *this << errorLine;
    succeeded = false;
    accountFailed = true;
}

}  // namespace tarmig
