// Streams every message of one store folder through tarmig::Folder and
// tarmig::Message as the migration's APPEND does (fixed size first, then every
// data part), without a network, and prints what it read and the time taken.
#include <sys/resource.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "store/Folder.h"
#include "store/Message.h"

namespace {

double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::cerr << "usage: bench_read ACCOUNT_DIR ACCOUNT FOLDER LOG [fix|nofix [REPS]]\n";
        return 2;
    }
    std::string accountDir = argv[1], account = argv[2], folderName = argv[3];
    bool fixLineEnds = !(argc > 5 && std::string(argv[5]) == "nofix");
    int reps = argc > 6 ? std::atoi(argv[6]) : 1;

    std::ofstream log(argv[4], std::ios::binary | std::ios::trunc);
    long messages = 0;
    long long stored = 0, fixedBytes = 0, sentBytes = 0;
    auto start = std::chrono::steady_clock::now();
    for (int rep = 0; rep < reps; ++rep) {
        tarmig::Folder folder(log);
        folder.initialize(folderName, accountDir, tarmig::MailboxMacnt);
        folder.openMessagesFile(account);
        tarmig::Message message(folder);
        std::string part;
        for (bool more = folder.getFirstMessage(message, fixLineEnds); more;
             more = folder.getNextMessage(message, fixLineEnds)) {
            ++messages;
            stored += message.getSize();
            fixedBytes += message.getFixedSize();
            for (bool data = message.getFirstDataPart(part); data; data = message.getNextDataPart(part)) {
                sentBytes += static_cast<long long>(part.size());
            }
        }
        folder.closeMessagesFile();
    }
    double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::cout << "messages " << messages << " stored " << stored << " fixed " << fixedBytes << " sent " << sentBytes
              << (fixedBytes == sentBytes ? "" : " MISMATCH") << "\n"
              << "wall " << wall << " s, user " << seconds(usage.ru_utime) << " s, sys " << seconds(usage.ru_stime)
              << " s, " << static_cast<double>(stored) / 1e6 / wall << " MB/s\n";
    return fixedBytes == sentBytes ? 0 : 1;
}
