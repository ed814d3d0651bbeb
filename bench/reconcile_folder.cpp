// Reconciles one store folder with a mailbox an IMAP server already holds,
// through the calls an -incremental run makes for a folder: SELECT and UID
// FETCH of the target's keys sent, the store's keys read while the server
// answers, then the answers read and matched. Logged in with LOGIN, so that
// a standard server (Dovecot) can be measured where the migration needs the
// Vantrel extensions.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "imap/SimpleImapClient.h"
#include "imap/TargetMessage.h"
#include "migrator/FolderKeys.h"
#include "migrator/FolderReconciliation.h"
#include "store/Folder.h"

int main(int argc, char** argv) {
    if (argc != 10) {
        std::cerr << "usage: bench_reconcile HOST PORT USER PASSWORD ACCOUNT_DIR ACCOUNT FOLDER MAILBOX LOG\n";
        return 2;
    }
    std::string host = argv[1], user = argv[3], password = argv[4];
    std::string accountDir = argv[5], account = argv[6], folderName = argv[7], mailbox = argv[8];
    auto port = static_cast<unsigned>(std::atoi(argv[2]));
    std::ofstream log(argv[9], std::ios::binary | std::ios::trunc);
    SimpleImapClient client;
    if (auto result = client.connect(host, port, user, password, false); result != SimpleImapClient::Ok) {
        std::cerr << "connect failed: " << result << "\n";
        return 1;
    }
    tarmig::Folder folder(log);
    folder.initialize(folderName, accountDir, tarmig::MailboxMacnt);
    client.startSelectKeys(mailbox);
    const tarmig::FolderKeys store = tarmig::readFolderKeys(folder, account, true);
    std::vector<TargetMessage> held;
    if (auto result = client.finishKeys(held); result != SimpleImapClient::Ok) {
        std::cerr << "cannot read the keys of " << mailbox << ": " << result << "\n";
        return 1;
    }
    const tarmig::FolderReconciliation plan = tarmig::reconcileFolder(store.messages, held);
    client.disconnect(true);
    std::cout << "present " << plan.alreadyPresent << " send " << plan.toSend.size() << " flags "
              << plan.flagUpdates.size() << "\n";
    return 0;
}
