#include "imap/FetchMessage.h"
#include "imap/SimpleImapClient.h"
#include "support/VantrelServer.h"
#include "TestMessage.h"

#include <gtest/gtest.h>

#include <deque>
#include <latch>
#include <string>
#include <thread>
#include <vector>

// Several facades at once, one per thread, each on its own connection, as
// the engine runs accounts in parallel. Each thread provisions its own
// account, appends with several answers in flight, and reads a message back;
// whatever one client's state leaks into another's shows as a wrong account,
// a wrong message, or (under ThreadSanitizer) a data race.
namespace {

using namespace tarmig::testing;
using Result = SimpleImapClient::ImapClientResult;

constexpr int clientCount = 4;
constexpr int messagesPerClient = 12;
const std::string domain = "par";

std::string userName(int client) { return "user" + std::to_string(client); }

std::string body(int client, int message) {
    // Sizes differ between clients and messages, so that reads and writes
    // of different connections do not run in step.
    return "Subject: " + userName(client) + " message " + std::to_string(message) + "\r\n\r\n" +
           std::string(100 + 977 * client + 1531 * message, static_cast<char>('a' + client)) +
           "\r\n";
}

std::string readBody(FetchMessage& message) {
    std::string all, part;
    for (bool more = message.getFirstDataPart(part); more; more = message.getNextDataPart(part))
        all += part;
    return all;
}

// What one client did, checked on the main thread once all have ended.
struct Outcome {
    std::vector<std::string> failures;
    std::vector<std::string> fetchedBodies;
    std::vector<std::string> userFolders;
    unsigned statusCount = 0;
    std::string greeting;

    void expect(bool ok, const std::string& what) {
        if (!ok) failures.push_back(what);
    }
};

// The latches hold every client at the start of its appends, of its
// fetches and of its user login, so that the connections move data and
// compute digests at the same moments.
struct Latches {
    std::latch appending{clientCount};
    std::latch fetching{clientCount};
    std::latch loggingIn{clientCount};
};

// The account's own login, CRAM-MD5 for every other client, then its folders.
void logInAsUser(unsigned port, bool tls, int client, Outcome& outcome) {
    SimpleImapClient imap(10);
    imap.setTls(tls, false);
    const bool cramMD5 = client % 2 == 0;
    if (imap.connect("127.0.0.1", port, userName(client) + "@" + domain, "pw", cramMD5) !=
        SimpleImapClient::Ok) {
        outcome.failures.push_back(cramMD5 ? "CRAM-MD5 login" : "LOGIN");
        return;
    }
    outcome.expect(imap.list(outcome.userFolders) == SimpleImapClient::Ok, "list");
    imap.disconnect(true);
}

void migrateOne(unsigned port, bool tls, int client, Outcome& outcome, Latches& latches) {
    SimpleImapClient imap(10);
    imap.setTls(tls, false);
    outcome.expect(imap.testImapServer("127.0.0.1", port, outcome.greeting), "server probe");
    outcome.expect(imap.connect("127.0.0.1", port, "master", 0) == SimpleImapClient::Ok,
                   "master login");
    outcome.expect(imap.createUser(userName(client), domain, "pw", "") == SimpleImapClient::Ok,
                   "create user");
    outcome.expect(imap.setUser(userName(client), domain) == SimpleImapClient::Ok, "set user");
    outcome.expect(imap.createFolder("Box", SimpleImapClient::FolderMail) == SimpleImapClient::Ok,
                   "create folder");
    const bool xAppend = imap.isXAppendSupported();

    imap.setAppendWindow(4);
    latches.appending.arrive_and_wait();
    std::deque<TestMessage> messages;
    int answered = 0;
    for (int n = 0; n < messagesPerClient; ++n) {
        if (imap.appendWindowFull()) {
            outcome.expect(imap.collectAppend() == SimpleImapClient::Ok,
                           "append " + std::to_string(answered++));
        }
        messages.emplace_back(std::vector<std::string>{body(client, n)}, "\\Seen ",
                              "20-Feb-2004 12:34:56 +0000");
        outcome.expect(imap.sendAppend("Box", &messages.back(), xAppend) == SimpleImapClient::Ok,
                       "send append " + std::to_string(n));
    }
    while (imap.appendsInFlight() > 0) {
        outcome.expect(imap.collectAppend() == SimpleImapClient::Ok,
                       "append " + std::to_string(answered++));
    }

    outcome.expect(imap.status("Box", outcome.statusCount) == SimpleImapClient::Ok, "status");
    outcome.expect(imap.select("Box") == SimpleImapClient::Ok, "select");
    latches.fetching.arrive_and_wait();
    FetchMessage fetched;
    for (unsigned n = 1; n <= messagesPerClient; ++n) {
        if (imap.fetch(n, fetched) == SimpleImapClient::Ok) {
            outcome.fetchedBodies.push_back(readBody(fetched));
        } else {
            outcome.failures.push_back("fetch " + std::to_string(n));
        }
    }
    imap.disconnect(true);

    latches.loggingIn.arrive_and_wait();
    logInAsUser(port, tls, client, outcome);
}

void runClientsInParallel(bool tls) {
    VantrelServerOptions options;
    options.tls = tls;
    VantrelServer server(options);
    std::vector<Outcome> outcomes(clientCount);
    Latches latches;
    std::vector<std::thread> threads;
    for (int client = 0; client < clientCount; ++client) {
        threads.emplace_back(migrateOne, server.port(), tls, client, std::ref(outcomes[client]),
                             std::ref(latches));
    }
    for (std::thread& thread : threads) thread.join();

    const VantrelDump dump = server.dump();
    for (int client = 0; client < clientCount; ++client) {
        const Outcome& outcome = outcomes[client];
        SCOPED_TRACE(userName(client));
        EXPECT_EQ(outcome.failures, std::vector<std::string>{});
        EXPECT_EQ(outcome.greeting.rfind("* OK", 0), 0u) << outcome.greeting;
        EXPECT_EQ(outcome.userFolders, (std::vector<std::string>{"INBOX", "Box"}));
        EXPECT_EQ(outcome.statusCount, static_cast<unsigned>(messagesPerClient));
        ASSERT_EQ(outcome.fetchedBodies.size(), static_cast<std::size_t>(messagesPerClient));

        const VantrelAccount* account = dump.account(userName(client), domain);
        ASSERT_NE(account, nullptr);
        const VantrelFolder* box = account->folder("Box");
        ASSERT_NE(box, nullptr);
        ASSERT_EQ(box->messages.size(), static_cast<std::size_t>(messagesPerClient));
        for (int n = 0; n < messagesPerClient; ++n) {
            EXPECT_EQ(box->messages[n].data, body(client, n)) << n;
            EXPECT_EQ(outcome.fetchedBodies[n], body(client, n)) << n;
            EXPECT_EQ(box->messages[n].flags, std::vector<std::string>{"\\Seen"}) << n;
        }
    }
    EXPECT_EQ(dump.stats.masterLogins, static_cast<std::uint64_t>(clientCount));
}

TEST(ParallelClients, PlainConnectionsOnePerThread) { runClientsInParallel(false); }

TEST(ParallelClients, TlsConnectionsOnePerThread) { runClientsInParallel(true); }

}  // namespace
