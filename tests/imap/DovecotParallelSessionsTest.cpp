// Several clients at once, each on its own connection and thread, as the
// engine's account jobs run them, against a real IMAP server: a private
// Dovecot on loopback.
#include "imap/FetchMessage.h"
#include "imap/SimpleImapClient.h"
#include "support/DovecotServer.h"
#include "TestMessage.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <thread>
#include <vector>

using tarmig::testing::DovecotOptions;
using tarmig::testing::DovecotServer;
using tarmig::testing::dovecotInstalled;
using tarmig::testing::TestMessage;
using C = SimpleImapClient;

namespace {

constexpr int accounts = 4;
constexpr int messagesPerFolder = 25;
const char* const folders[] = {"INBOX", "Work", "Work/2004"};
const char* const flagTexts[] = {"", "\\Seen ", "\\Seen \\Flagged ", "\\Answered ", "\\Draft "};

std::string bodyOf(int account, const std::string& folder, int n) {
    return "Subject: " + std::to_string(account) + " " + folder + " " + std::to_string(n) + "\r\n\r\n" +
           std::string(static_cast<std::size_t>(n) * 37 + 1, static_cast<char>('a' + account)) + "\r\n";
}

std::string dateOf(int n) { return std::to_string(10 + n % 18) + "-Feb-2004 12:34:56 +0000"; }

// Migrates the account's folders as a job does: its own connection, folders
// created, messages appended with a window; returns "" or what went wrong.
std::string migrate(unsigned port, const std::string& user, int account) {
    SimpleImapClient client(10);
    client.setAppendWindow(8);
    if (client.connect("127.0.0.1", port, user, "pw", false) != C::Ok) return user + ": no login";
    std::deque<TestMessage> sources;
    for (const char* folder : folders) {
        if (std::string(folder) != "INBOX" && client.createFolder(folder, C::FolderNone) != C::Ok)
            return user + ": no folder " + folder;
        for (int n = 1; n <= messagesPerFolder; ++n) {
            sources.emplace_back(std::vector<std::string>{bodyOf(account, folder, n)}, flagTexts[n % 5], dateOf(n));
            if (client.sendAppend(folder, &sources.back(), false) != C::Ok) return user + ": send failed";
            while (client.appendWindowFull())
                if (client.collectAppend() != C::Ok) return user + ": append refused";
        }
        while (client.appendsInFlight() > 0)
            if (client.collectAppend() != C::Ok) return user + ": append refused";
    }
    client.disconnect(true);
    return "";
}

// Every message of the account's folders, in order: flags, date and data.
std::string contentOf(unsigned port, const std::string& user) {
    SimpleImapClient client(10);
    if (client.connect("127.0.0.1", port, user, "pw", false) != C::Ok) return "no login";
    std::string content;
    for (const char* folder : folders) {
        if (client.select(folder) != C::Ok) return std::string("no folder ") + folder;
        content += std::string("folder ") + folder + "\n";
        FetchMessage fetched;
        for (unsigned number = 1; client.fetch(number, fetched) == C::Ok; ++number) {
            std::string data, part;
            for (bool more = fetched.getFirstDataPart(part); more; more = fetched.getNextDataPart(part)) data += part;
            content += fetched.getFlags() + " | " + fetched.getDate() + "\n" + data;
        }
    }
    client.disconnect(true);
    return content;
}

TEST(DovecotParallelSessions, FourClientsAtOnceStoreWhatOneAfterTheOtherStores) {
    if (!dovecotInstalled()) GTEST_SKIP() << "Dovecot is not installed (/usr/sbin/dovecot); install dovecot-imapd";
    DovecotOptions options;
    for (int a = 0; a < accounts; ++a) {
        options.users.push_back({"serial" + std::to_string(a), "pw"});
        options.users.push_back({"parallel" + std::to_string(a), "pw"});
    }
    DovecotServer server(options);
    std::string error;
    ASSERT_TRUE(server.start(error)) << error;

    for (int a = 0; a < accounts; ++a) EXPECT_EQ(migrate(server.port(), "serial" + std::to_string(a), a), "");
    std::vector<std::string> failures(accounts);
    {
        std::vector<std::jthread> jobs;
        for (int a = 0; a < accounts; ++a)
            jobs.emplace_back([&, a] { failures[a] = migrate(server.port(), "parallel" + std::to_string(a), a); });
    }
    for (int a = 0; a < accounts; ++a) {
        EXPECT_EQ(failures[a], "") << a;
        const std::string serial = contentOf(server.port(), "serial" + std::to_string(a));
        EXPECT_NE(serial.find(bodyOf(a, "Work/2004", messagesPerFolder)), std::string::npos) << serial;
        EXPECT_EQ(contentOf(server.port(), "parallel" + std::to_string(a)), serial) << a;
    }
}

}  // namespace
