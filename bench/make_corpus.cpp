// Writes the benchmark corpora: the same messages as a CommuniGate store
// (.macnt accounts, each with an .mbox INBOX) and as a Maildir, or a store of
// many empty accounts for the print-mode scale runs.
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#include <vector>

#include "CorpusText.h"
#include "support/StoreBuilder.h"

using namespace tarmig::testing;

namespace {

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

// One account of the message store and the .mbox file of its INBOX.
struct MessageAccount {
    std::string dir;
    std::ofstream mbox;
    int reader = -1;  // the same file, for copying each message into the Maildir
    long count = 0;
    std::int64_t bytes = 0;
};

// Account `index` of `accounts`: one is "bench" in the primary domain; more
// are split between the primary domain and a second one, as a run over
// several domains meets them.
std::pair<std::string, std::string> accountName(long index, long accounts) {
    if (accounts == 1) return {"", "bench"};
    std::string name = "user" + std::to_string(index);
    return {index < (accounts + 1) / 2 ? "" : "second.example.com", name};
}

// The messages go round the accounts' INBOXes in turn; the Maildir holds them
// all in one INBOX, for the clients that read one.
int writeMessages(const std::string& out, long count, std::int64_t minSize, std::int64_t maxSize,
                  std::uint64_t seed, bool crlf, long accounts) {
    CorpusText text(seed, crlf);
    StoreBuilder store(out + "/store");
    std::vector<MessageAccount> targets(static_cast<std::size_t>(accounts));
    for (long a = 0; a < accounts; ++a) {
        auto [domain, name] = accountName(a, accounts);
        MessageAccount& target = targets[static_cast<std::size_t>(a)];
        target.dir = store.addMacnt(domain, name, settingsText({{"Password", "bench"},
                                                                {"PasswordEncryption", "clear"},
                                                                {"RealName", "Bench User"}}), "{}\n");
        target.mbox.open(target.dir + "/INBOX.mbox", std::ios::binary | std::ios::trunc);
        target.reader = open((target.dir + "/INBOX.mbox").c_str(), O_RDONLY);
    }
    std::string maildir = out + "/maildir/INBOX";
    for (const char* sub : {"/cur", "/new", "/tmp"}) makeDirs(maildir + sub);
    std::int64_t total = 0;
    for (long i = 0; i < count; ++i) {
        MessageAccount& target = targets[static_cast<std::size_t>(i % accounts)];
        std::int64_t size = text.between(minSize, maxSize);
        std::string flags = storeFlags(text.next());
        long stamp = baseStamp + i * 37;
        if (target.count > 0) target.mbox << "\r\n";
        MboxMessage m;
        m.flags = flags;
        m.uid = std::to_string(target.count + 1);
        m.timestamp = cgStamp(stamp);
        target.mbox << separatorLine(m) << '\n';
        target.mbox.flush();
        std::int64_t offset = target.mbox.tellp();
        text.writeMessage(target.mbox, i, size);
        if (!target.mbox.flush()) {
            std::cerr << "cannot write " << target.dir << "/INBOX.mbox\n";
            return 1;
        }
        std::int64_t written = static_cast<std::int64_t>(target.mbox.tellp()) - offset;
        ++target.count;
        target.bytes += written;
        total += written;

        std::string path = maildir + "/cur/" + std::to_string(stamp) + "." + std::to_string(i + 1) + ".bench:2," +
                           maildirFlags(flags);
        if (!copyRange(target.reader, offset, written, path)) {
            std::cerr << "cannot write " << path << "\n";
            return 1;
        }
        utimbuf times{stamp, stamp};
        utime(path.c_str(), &times);
    }
    for (MessageAccount& target : targets) {
        target.mbox.close();
        close(target.reader);
        std::string bytes = std::to_string(target.bytes);
        writeFile(target.dir + "/account.info",
                  infoText(bytes, {{"INBOX", "IPF.Note", std::to_string(target.count), bytes}}));
    }
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
            std::string path = "g";  // piecewise, as above
            path += std::to_string(n % 32);
            path += ".sub/h";
            path += std::to_string(n / 32 % 16);
            path += ".sub/";
            name = path + name;
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
        const long accounts = args.size() > 7 ? std::atol(args[7].c_str()) : 1;
        if (accounts < 1) return 2;
        return writeMessages(args[1], std::atol(args[2].c_str()), std::atoll(args[3].c_str()),
                             std::atoll(args[4].c_str()), std::strtoull(args[5].c_str(), nullptr, 10),
                             args.size() > 6 && args[6] == "crlf", accounts);
    }
    if ((args.size() == 3 || (args.size() == 4 && args[3] == "sub")) && args[0] == "accounts") {
        return writeAccounts(args[1], std::atol(args[2].c_str()), args.size() == 4);
    }
    std::cerr << "usage: bench_corpus messages DIR COUNT MIN MAX SEED [crlf|lf [ACCOUNTS]]\n"
                 "       bench_corpus accounts DIR COUNT [sub]\n";
    return 2;
}
