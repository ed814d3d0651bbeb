#include <string>
#include <vector>

#include "migrator/AccountJob.h"
#include "migrator/FolderKeys.h"
#include "migrator/FolderReconciliation.h"
#include "migrator/SharedRun.h"
#include "migrator/TargetSession.h"
#include "store/CGException.h"
#include "store/Folder.h"
#include "store/Mailbox.h"
#include "utils/ShownText.h"

namespace tarmig {

using zenqa::utils::shownText;

namespace {

// The account as lines show it.
std::string shownAccount(const Mailbox& mailbox) { return shownText(mailbox.username + "@" + mailbox.domain); }

// "1 message" or "N messages".
std::string messagesText(std::size_t count) {
    return std::to_string(count) + (count == 1 ? " message" : " messages");
}

// What keeps the store's folder and the target's apart, "" when nothing does.
std::string differences(const FolderReconciliation& plan, std::size_t storeCount, std::size_t targetCount) {
    std::vector<std::string> parts;
    if (!plan.toSend.empty()) parts.push_back(messagesText(plan.toSend.size()) + " missing on the target");
    if (plan.notInStore > 0) parts.push_back(messagesText(plan.notInStore) + " extra on the target");
    if (!plan.flagUpdates.empty()) parts.push_back("flags differ on " + messagesText(plan.flagUpdates.size()));
    if (parts.empty()) return "";
    std::string text;
    for (const std::string& part : parts) text += (text.empty() ? "" : ", ") + part;
    return text + " (the store holds " + std::to_string(storeCount) + ", the target " + std::to_string(targetCount) +
           ")";
}

}  // namespace

std::vector<TargetMessage> AccountJob::finishTargetKeys(const std::string& target, ImapFolderType createAs) {
    std::vector<TargetMessage> messages;
    SimpleImapClient::ImapClientResult read = client.finishKeys(messages);
    if (read == SimpleImapClient::SelectFailed) {
        createLevels(target, createAs);
        read = client.selectKeys(target, messages);
    }
    if (read == SimpleImapClient::SelectFailed || read == SimpleImapClient::FetchFailed) {
        const std::string why =
            read == SimpleImapClient::SelectFailed ? "cannot open folder " : "cannot read the messages of folder ";
        output.log() << "Error: " << why << shownText(target) << " on the target: "
                     << shownText(client.lastResponseText()) << "\n" << std::flush;
        throw CGStoreException(why + shownText(target));
    }
    if (read != SimpleImapClient::Ok)
        failSession(output.log(), read, "read the messages of folder " + shownText(target));
    return messages;
}

// The target is the judge of what was sent before: whatever an earlier run
// stored, whether or not it finished, is found there by its keys.
std::vector<bool> AccountJob::reconcileWithTarget(Mailbox& mailbox, Folder& folder, const std::string& target,
                                                  bool hasStorage, FolderKeys& keys) {
    // The store is read while the server answers.
    client.startSelectKeys(target);
    if (hasStorage) {
        try {
            keys = readFolderKeys(folder, mailbox.username, settings.fixLineEnds);
        } catch (const CGStoreException&) {
            // The folder fails; the session goes on in step, unless it is lost.
            std::vector<TargetMessage> unused;
            const SimpleImapClient::ImapClientResult read = client.finishKeys(unused);
            if (read != SimpleImapClient::Ok && read != SimpleImapClient::SelectFailed &&
                read != SimpleImapClient::FetchFailed)
                failSession(output.log(), read, "read the messages of folder " + shownText(target));
            throw;
        }
    }
    const std::vector<StoreMessageState>& store = keys.messages;
    const std::vector<TargetMessage> held = finishTargetKeys(target, folder.getType());
    const FolderReconciliation plan = reconcileFolder(store, held);
    // The store holds the user's last word on flags.
    for (const FlagUpdate& update : plan.flagUpdates) {
        const SimpleImapClient::ImapClientResult stored = client.storeFlags(update.uid, update.flags);
        if (stored == SimpleImapClient::StoreFailed) {
            reportSkipped("Error: cannot set the flags of a message of folder \"" + shownText(folder.getName()) +
                          "\" on the target: " + shownText(client.lastResponseText()) + "\n");
        } else if (stored != SimpleImapClient::Ok) {
            failSession(output.log(), stored, "set flags in folder " + shownText(target));
        }
    }
    const std::string prefix = "Info: <" + shownAccount(mailbox) + "> folder \"" + shownText(folder.getName()) + "\": ";
    if (plan.alreadyPresent > 0)
        output.log() << prefix << plan.alreadyPresent << " messages already present\n" << std::flush;
    if (plan.notInStore > 0)
        output.log() << prefix << plan.notInStore << " messages on the target are not in the store (left in place)\n"
                     << std::flush;
    counts.messagesAlreadyPresent += static_cast<long long>(plan.alreadyPresent);
    std::vector<bool> toSend(store.size(), false);
    for (std::size_t position : plan.toSend) toSend[position] = true;
    std::int64_t presentBytes = 0;
    for (std::size_t position = 0; position < store.size(); ++position)
        if (!toSend[position]) presentBytes += static_cast<std::int64_t>(store[position].key.size);
    shared.progress.messagesPresent(presentBytes);
    return toSend;
}

void AccountJob::verifyAccount(Mailbox& mailbox, std::vector<Folder>& folders) {
    long long messages = 0;
    bool agree = true;
    for (Folder& folder : folders) {
        stopIfRunStops();
        if (!verifyFolder(mailbox, folder, messages)) agree = false;
        ++counts.foldersVerified;
    }
    if (agree)
        output << "Info: verified <" << shownAccount(mailbox) << ">: " << std::to_string(folders.size()) << " folders, "
               << std::to_string(messages) << " messages\n";
}

bool AccountJob::verifyFolder(Mailbox& mailbox, Folder& folder, long long& messages) {
    const std::string prefix =
        "Error: verify <" + shownAccount(mailbox) + "> folder \"" + shownText(folder.getName()) + "\": ";
    std::string target = folder.getName();
    replaceForbiddenChars(target, '_');
    std::vector<StoreMessageState> store;
    try {
        if (folder.storageExists(mailbox.username))
            store = readFolderKeys(folder, mailbox.username, settings.fixLineEnds).messages;
    } catch (const CGStoreException&) {
        reportSkipped(prefix + "the store's messages cannot be read\n");
        return false;
    }
    messages += static_cast<long long>(store.size());
    std::vector<TargetMessage> held;
    const SimpleImapClient::ImapClientResult read = client.examineKeys(target, held);
    if (read == SimpleImapClient::SelectFailed) {
        reportSkipped(prefix + "the folder is missing on the target\n");
        return false;
    }
    if (read == SimpleImapClient::FetchFailed) {
        reportSkipped(prefix + "the target's messages cannot be read: " + shownText(client.lastResponseText()) + "\n");
        return false;
    }
    if (read != SimpleImapClient::Ok) failSession(output.log(), read, "examine folder " + shownText(target));
    const std::string differ = differences(reconcileFolder(store, held), store.size(), held.size());
    if (differ.empty()) return true;
    reportSkipped(prefix + differ + "\n");
    return false;
}

void AccountJob::verifyExistingAccount(Mailbox& mailbox) {
    currentUser = mailbox.username;
    currentDomain = mailbox.domain;
    const SimpleImapClient::ImapClientResult found = client.setUser(mailbox.username, mailbox.domain);
    if (found == SimpleImapClient::SetUserFailed) {
        reportSkipped("Error: verify <" + shownAccount(mailbox) + ">: the account does not exist on the target\n");
        return;
    }
    if (found != SimpleImapClient::Ok) failSession(output.log(), found, "switch user", "Error: ");
    std::vector<Folder> folders = readFolderList(mailbox);
    verifyAccount(mailbox, folders);
}

}  // namespace tarmig
