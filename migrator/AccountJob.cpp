#include "migrator/AccountJob.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "migrator/AccountLine.h"
#include "migrator/SharedRun.h"
#include "store/CGException.h"
#include "store/Folder.h"
#include "store/Mailbox.h"
#include "store/Message.h"
#include "utils/ShownText.h"

namespace tarmig {

using zenqa::utils::shownText;

AccountJob::AccountJob(const JobSettings& settings, SharedRun& run, bool held)
    : settings(settings), shared(run), output(run.output, held), client(settings.timeoutSeconds) {
    client.setTls(settings.useTls, settings.verifyPeer);
    client.setAppendWindow(settings.appendWindow);
}

void AccountJob::run(Mailbox& mailbox) {
    beginAccount(mailbox.domain, mailbox.username);
    writeAccountLine(mailbox);
    try {
        transferAccount(mailbox);
    } catch (const CGStoreException&) {
        output << "Error: cannot migrate mailbox <" << shownText(mailbox.username) << ">\n";
        shared.totals.markFailed();
        endAccount(AccountReport::Failed);
    } catch (...) {
        output.finish(mailbox.domain);
        throw;
    }
    output.finish(mailbox.domain);
}

void AccountJob::abandon(Mailbox& mailbox) {
    beginAccount(mailbox.domain, mailbox.username);
    writeAccountLine(mailbox);
    reportStopped(mailbox);
    output.finish(mailbox.domain);
}

void AccountJob::writeAccountLine(Mailbox& mailbox) {
    output << " + mailbox <" << shownText(mailbox.username) << ">, size: " << accountSize(mailbox);
    output.log() << accountTime(std::time(nullptr)) << std::flush;
    output.console("\n");
}

void AccountJob::beginAccount(const std::string& domain, const std::string& account) {
    accountOpen = true;
    report = AccountReport{};
    report.domain = domain;
    report.account = account;
    counts = ReportCounts{};
    accountStartTime = std::chrono::steady_clock::now();
    output.startErrors();
}

void AccountJob::endAccount(AccountReport::Status status, const std::string& lastError) {
    if (!accountOpen) return;
    accountOpen = false;
    report.status = status;
    report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - accountStartTime).count();
    report.errors = output.stopErrors();
    if (!lastError.empty()) report.errors.push_back(lastError);
    report.counts = counts;
    shared.totals.addAccount(status, counts);
    shared.progress.accountDone();
    shared.report.write(accountReportLine(report));
}

std::vector<Folder> AccountJob::readFolderList(Mailbox& mailbox) {
    std::vector<Folder> folders;
    try {
        mailbox.getFolderList(folders);
    } catch (const CGStoreException&) {
        output.log() << "Error: cannot read folder list" << "\n" << std::flush;
        throw;
    }
    reportProblems(mailbox.takeProblems());
    return folders;
}

void AccountJob::transferAccount(Mailbox& mailbox) {
    accountFailed = false;
    identityLost = false;
    try {
        connect(false);
        if (settings.verifyOnly) {
            verifyExistingAccount(mailbox);
            client.disconnect(true);
            endAccount(accountFailed ? AccountReport::Failed : AccountReport::Migrated);
            return;
        }
        if (!setUser(mailbox)) {
            client.disconnect(true);
            endAccount(AccountReport::Skipped);
            return;
        }
        bool useXAppend = client.isXAppendSupported();
        if (useXAppend) {
            output.log() << "Info: Vantrel 6.3.0 or newer detected, search indexing disabled (improve migration speed)."
                         << "\n" << std::flush;
        }
        std::vector<Folder> folders = readFolderList(mailbox);
        for (Folder& folder : folders) {
            stopIfRunStops();
            transferFolder(mailbox, folder, useXAppend);
        }
        if (settings.verify) verifyAccount(mailbox, folders);
        client.disconnect(true);
        endAccount(accountFailed ? AccountReport::Failed : AccountReport::Migrated);
    } catch (const Stopped&) {
        client.disconnect(true);
        reportStopped(mailbox);
    } catch (const CGNetworkException& e) {
        output.console("\n");
        client.disconnect(true);
        shared.totals.markFailed();
        // The driver logs this line once the run has ended.
        endAccount(AccountReport::Failed, std::string("Error: ") + e.what());
        throw;
    } catch (const CGStoreException&) {
        client.disconnect(true);
        throw;
    }
}

// Another job's account ended the run: this one ends at a message boundary,
// its appends in flight answered, and says so.
void AccountJob::stopIfRunStops() {
    if (shared.stopping) throw Stopped{};
}

void AccountJob::reportStopped(const Mailbox& mailbox) {
    output << "Error: account <" << shownText(mailbox.username + "@" + mailbox.domain)
           << "> not finished: the run stopped on a network error\n";
    shared.totals.markFailed();
    endAccount(AccountReport::Failed);
}

void AccountJob::transferFolder(Mailbox& mailbox, Folder& folder, bool useXAppend) {
    int count = 0;
    int shownCount = 0;
    try {
        if (folder.isFromDisk()) {
            output << "Warning: folder \"" << shownText(folder.getName())
                   << "\" is not in the account's info file, migrated from disk\n";
        }
        // An incremental run opens an existing folder with the read of its
        // messages, in one round trip; only a folder that is not there yet is
        // created level by level first. An account made by this run holds
        // none of the store's messages: it is filled as by a plain run.
        const bool reconcile = settings.incremental && !accountCreated;
        const std::string target = targetName(folder);
        if (!reconcile) createLevels(target, folder.getType());
        output << "   - \"" << shownText(folder.getName()) << "\", messages: ";
        // A count beyond int is pinned, not wrapped.
        long stored = std::strtol(folder.getMessageCount().c_str(), nullptr, 10);
        count = static_cast<int>(std::clamp<long>(stored, INT_MIN, INT_MAX));
        output.log() << count << "\n" << std::flush;
        shownCount = count;
        // The info file is rebuilt by the server and may be stale: the
        // storage is read whatever the count says. Only a folder said to
        // hold messages must have storage; any other is empty.
        const bool hasStorage = count > 0 || folder.storageExists(mailbox.username);
        std::vector<bool> toSend;
        FolderKeys keys;
        if (reconcile) toSend = reconcileWithTarget(mailbox, folder, target, hasStorage, keys);
        if (hasStorage) {
            int found = 0;
            if (reconcile && std::find(toSend.begin(), toSend.end(), true) == toSend.end()) {
                // Nothing to send: the key read was the folder's only read,
                // so the store problems it met are reported here, once.
                found = static_cast<int>(keys.messages.size()) + reportProblems(keys.problems);
            } else {
                found = transferMessages(mailbox, folder, count, useXAppend, reconcile ? &toSend : nullptr);
            }
            if (found != count && !folder.isFromDisk()) {
                output.log() << "Warning: folder \"" << shownText(folder.getName()) << "\": " << found
                             << " messages read, the account's info file says " << count << "\n"
                             << std::flush;
            }
            shownCount = found;
        } else {
            shownCount = 0;
        }
        ++counts.foldersMigrated;
    } catch (const CGStoreException&) {
        reportSkipped("Error: cannot migrate folder \"" + shownText(folder.getName()) + "\"\n");
        ++counts.foldersFailed;
        if (identityLost) throw;
    }
    output.console(std::to_string(shownCount) + "\n");
}

int AccountJob::transferMessages(Mailbox& mailbox, Folder& folder, int count, bool useXAppend,
                                 const std::vector<bool>* toSend) {
    Message message(folder);
    std::string target = folder.getName();
    replaceForbiddenChars(target, '_');
    appendsInFlight.clear();
    int shown = 0;
    int found = 0;
    // Messages the store handed out; lost ones have a number but no position.
    std::size_t handedOut = 0;
    try {
        // Without a count the counter waits for the first message; its
        // total grows with the messages found, never shown below them.
        if (count > 0) shown = output.printProgress(1, count);
        folder.openMessagesFile(mailbox.username);
        for (bool more = folder.getFirstMessage(message, settings.fixLineEnds);;
             more = folder.getNextMessage(message, settings.fixLineEnds)) {
            found += reportProblems(folder.takeProblems());
            if (!more) break;
            if (shared.stopping) {
                collectAppends();
                output.clearOutput(shown);
                folder.closeMessagesFile();
                throw Stopped{};
            }
            ++found;
            shown = output.replaceProgress(shown, found, std::max(count, found));
            const bool wanted = !toSend || handedOut >= toSend->size() || (*toSend)[handedOut];
            ++handedOut;
            if (wanted) sendMessage(target, message, found, useXAppend);
        }
        collectAppends();
        output.clearOutput(shown);
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

void AccountJob::reportSkipped(const std::string& errorLine) {
    output.console("\n");
    output << errorLine;
    shared.totals.markFailed();
    accountFailed = true;
}

int AccountJob::reportProblems(const std::vector<StoreProblem>& problems) {
    int messages = 0;
    for (const StoreProblem& problem : problems) {
        reportSkipped(problem.line);
        if (problem.loss == StoreProblem::LostMessage) {
            ++counts.messagesFailed;
            ++messages;
        } else if (problem.loss == StoreProblem::LostFolder) {
            ++counts.foldersFailed;
        }
    }
    return messages;
}

}  // namespace tarmig
