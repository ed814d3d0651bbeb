// Appends every message of one store folder to an IMAP server through the
// same Folder, Message and SimpleImapClient calls the migration makes, logged
// in as a user with LOGIN, so its speed is the message path's own. With
// window=N up to N appends await their answers, as in a migration.
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <string>

#include "imap/SimpleImapClient.h"
#include "store/Folder.h"
#include "store/Message.h"

int main(int argc, char** argv) {
    if (argc < 10) {
        std::cerr << "usage: bench_append HOST PORT USER PASSWORD ACCOUNT_DIR ACCOUNT FOLDER MAILBOX LOG [nofix] "
                     "[window=N]\n";
        return 2;
    }
    std::string host = argv[1], user = argv[3], password = argv[4];
    std::string accountDir = argv[5], account = argv[6], folderName = argv[7], mailbox = argv[8];
    auto port = static_cast<unsigned>(std::atoi(argv[2]));
    bool fixLineEnds = true;
    unsigned window = 1;
    for (int i = 10; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "nofix") fixLineEnds = false;
        if (option.starts_with("window=")) window = static_cast<unsigned>(std::atoi(option.c_str() + 7));
    }

    // The run's log receives the folder's per-message lines, as in a migration.
    std::ofstream log(argv[9], std::ios::binary | std::ios::trunc);
    SimpleImapClient client;
    client.setAppendWindow(window);
    if (auto result = client.connect(host, port, user, password, false); result != SimpleImapClient::Ok) {
        std::cerr << "connect failed: " << result << "\n";
        return 1;
    }
    // As the migration's folder creation does: select, create only when missing.
    if (client.select(mailbox) != SimpleImapClient::Ok &&
        client.createFolder(mailbox, SimpleImapClient::FolderMail) != SimpleImapClient::Ok) {
        std::cerr << "cannot select or create " << mailbox << "\n";
        return 1;
    }
    tarmig::Folder folder(log);
    folder.initialize(folderName, accountDir, tarmig::MailboxMacnt);
    folder.openMessagesFile(account);
    tarmig::Message message(folder);
    long appended = 0, failed = 0;
    long long bytes = 0;
    std::deque<std::int64_t> sizes;  // of the appends in flight
    auto collect = [&] {
        if (client.collectAppend() == SimpleImapClient::Ok) {
            ++appended;
            bytes += sizes.front();
        } else {
            ++failed;
        }
        sizes.pop_front();
    };
    for (bool more = folder.getFirstMessage(message, fixLineEnds); more;
         more = folder.getNextMessage(message, fixLineEnds)) {
        if (client.sendAppend(mailbox, &message, false) != SimpleImapClient::Ok) {
            ++failed;
            continue;
        }
        sizes.push_back(message.getFixedSize());
        while (client.appendWindowFull()) collect();
    }
    while (!sizes.empty()) collect();
    folder.closeMessagesFile();
    client.disconnect(true);
    std::cout << "appended " << appended << " bytes " << bytes << " failed " << failed << "\n";
    return failed == 0 ? 0 : 1;
}
