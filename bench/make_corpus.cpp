// Writes the benchmark corpora: the same messages as a CommuniGate store
// (one .macnt account with an .mbox INBOX) and as a Maildir, or a store of
// many empty accounts for the print-mode scale runs.
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

#include "CorpusText.h"
#include "support/StoreBuilder.h"

using namespace tarmig::testing;

namespace {

struct Stored {
    std::int64_t offset;
    std::int64_t size;
    std::string flags;
    long stamp;
};

constexpr long baseStamp = 1077280496;  // 20 Feb 2004 12:34:56 UTC

std::string storeFlags(std::uint64_t r) {
    std::string f;
    if (r % 10 < 7) f += 'S';
    if (r % 7 == 0) f += 'A';
    if (r % 11 == 0) f += 'F';
    return f;
}

// Maildir info flags for the same state, in ASCII order.
std::string maildirFlags(const std::string& store) {
    std::string f;
    if (store.find('F') != std::string::npos) f += 'F';
    if (store.find('A') != std::string::npos) f += 'R';
    if (store.find('S') != std::string::npos) f += 'S';
    return f;
}

std::string cgStamp(long t) {
    time_t tt = t;
    tm parts{};
    gmtime_r(&tt, &parts);
    char text[64];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d_%02d:%02d:%02d_", parts.tm_mday, parts.tm_mon + 1,
                  parts.tm_year + 1900, parts.tm_hour, parts.tm_min, parts.tm_sec);
    return text;
}

bool copyRange(int from, std::int64_t offset, std::int64_t size, const std::string& to) {
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out < 0) return false;
    loff_t in = offset;
    while (size > 0) {
        ssize_t n = copy_file_range(from, &in, out, nullptr, static_cast<size_t>(size), 0);
        if (n <= 0) break;
        size -= n;
    }
    close(out);
    return size == 0;
}

int writeMessages(const std::string& out, long count, std::int64_t minSize, std::int64_t maxSize,
                  std::uint64_t seed, bool crlf) {
    CorpusText text(seed, crlf);
    StoreBuilder store(out + "/store");
    std::string account = store.addMacnt("", "bench", settingsText({{"Password", "bench"},
                                                                    {"PasswordEncryption", "clear"},
                                                                    {"RealName", "Bench User"}}), "{}\n");
    std::string mboxPath = account + "/INBOX.mbox";
    std::vector<Stored> stored;
    std::int64_t total = 0;
    {
        std::ofstream mbox(mboxPath, std::ios::binary | std::ios::trunc);
        for (long i = 0; i < count; ++i) {
            std::int64_t size = text.between(minSize, maxSize);
            std::string flags = storeFlags(text.next());
            long stamp = baseStamp + i * 37;
            if (i > 0) mbox << "\r\n";
            MboxMessage m;
            m.flags = flags;
            m.uid = std::to_string(i + 1);
            m.timestamp = cgStamp(stamp);
            mbox << separatorLine(m) << '\n';
            std::int64_t offset = mbox.tellp();
            text.writeMessage(mbox, i, size);
            std::int64_t written = static_cast<std::int64_t>(mbox.tellp()) - offset;
            stored.push_back({offset, written, flags, stamp});
            total += written;
        }
        if (!mbox.flush()) {
            std::cerr << "cannot write " << mboxPath << "\n";
            return 1;
        }
    }
    writeFile(account + "/account.info",
              infoText(std::to_string(total), {{"INBOX", "IPF.Note", std::to_string(count), std::to_string(total)}}));

    std::string maildir = out + "/maildir/INBOX";
    for (const char* sub : {"/cur", "/new", "/tmp"}) makeDirs(maildir + sub);
    int in = open(mboxPath.c_str(), O_RDONLY);
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const Stored& s = stored[i];
        std::string path = maildir + "/cur/" + std::to_string(s.stamp) + "." + std::to_string(i + 1) +
                           ".bench:2," + maildirFlags(s.flags);
        if (!copyRange(in, s.offset, s.size, path)) {
            std::cerr << "cannot write " << path << "\n";
            return 1;
        }
        utimbuf times{s.stamp, s.stamp};
        utime(path.c_str(), &times);
    }
    close(in);
    std::cout << "messages " << count << " bytes " << total << "\n";
    return 0;
}

// With `nested`, the same accounts lie two ".sub" levels down, as large
// domains keep them: 32 directories, each with 16, per domain.
int writeAccounts(const std::string& out, long count, bool nested) {
    StoreBuilder store(out);
    makeDirs(store.domainDir(""));
    const long domains = 10;
    std::string settings = settingsText({{"Password", "secret"}, {"PasswordEncryption", "clear"}});
    for (long i = 0; i < count; ++i) {
        std::string domain = "d";  // appended piecewise: GCC 12 warns falsely on "x" + temporary
        domain += std::to_string(i % domains);
        domain += ".example.com";
        std::string size = std::to_string(1000 + i % 5000);
        std::string name = "user" + std::to_string(i);
        if (nested) {
            long n = i / domains;
            name = "g" + std::to_string(n % 32) + ".sub/h" + std::to_string(n / 32 % 16) + ".sub/" + name;
        }
        store.addMacnt(domain, name, settings,
                       infoText(size, {{"INBOX", "IPF.Note", "3", size}, {"Sent", "IPF.Note", "1", "100"}}));
    }
    std::cout << "accounts " << count << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() >= 6 && args[0] == "messages") {
        return writeMessages(args[1], std::atol(args[2].c_str()), std::atoll(args[3].c_str()),
                             std::atoll(args[4].c_str()), std::strtoull(args[5].c_str(), nullptr, 10),
                             args.size() > 6 && args[6] == "crlf");
    }
    if ((args.size() == 3 || (args.size() == 4 && args[3] == "sub")) && args[0] == "accounts") {
        return writeAccounts(args[1], std::atol(args[2].c_str()), args.size() == 4);
    }
    std::cerr << "usage: bench_corpus messages DIR COUNT MIN MAX SEED [crlf|lf]\n"
                 "       bench_corpus accounts DIR COUNT [sub]\n";
    return 2;
}
