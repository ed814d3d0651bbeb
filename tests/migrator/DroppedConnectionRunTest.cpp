#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// The built binary against a server that drops the connection, without an
// answer, at the first append of the run.
namespace {

using namespace tarmig::testing;

constexpr int inboxMessages = 20;

const std::string unconfirmedPrefix = "Error: cannot migrate message nr.: ";
const std::string unconfirmedSuffix =
    ", unconfirmed: the connection broke before its answer (the server may have stored it)";

struct Outcome {
    int exitStatus = -1;
    std::string log;
    VantrelDump dump;
};

class DroppedConnectionRun : public ::testing::Test {
protected:
    TempDir store;

    void SetUp() override {
        StoreBuilder builder(store.path());
        std::vector<MboxMessage> inbox;
        for (int n = 1; n <= inboxMessages; ++n) {
            MboxMessage m;
            m.data = "Subject: " + std::to_string(n) + "\n\nbody " + std::to_string(n) + "\n";
            m.uid = std::to_string(n);
            inbox.push_back(m);
        }
        std::string ann = builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}),
                                           infoText("1", {{"INBOX", "", std::to_string(inboxMessages), ""}}));
        builder.addMboxFolder(ann, "INBOX", mboxText(inbox));
    }

    Outcome migrate(const std::string& window) {
        VantrelServer server({.arguments = {"--drop-after", "0", "--fault-commands", "APPEND,X-APPEND"}});
        TempDir work;
        Outcome outcome;
        // A hang would wait out this time-out and say so in the log.
        outcome.exitStatus = runTool({"-path", store.path(), "-primaryDomain", "example.com", "-migrate", "-server",
                                      "127.0.0.1", "-port", std::to_string(server.port()), "-password", "master",
                                      "-timeout", "30", "-window", window},
                                     work.path())
                                 .exitStatus;
        auto logs = filesMatching(work.path(), "tarmig_", ".log");
        if (logs.size() == 1) outcome.log = readFile(logs[0]);
        server.stop();
        outcome.dump = server.dump();
        return outcome;
    }
};

// Message numbers of the "unconfirmed" lines in log order, and the line after the last of them.
std::vector<int> unconfirmedMessages(const std::string& log, std::string& lineAfter) {
    std::vector<int> numbers;
    std::istringstream in(log);
    std::string line;
    bool afterUnconfirmed = false;
    while (std::getline(in, line)) {
        if (line.starts_with(unconfirmedPrefix) && line.ends_with(unconfirmedSuffix)) {
            numbers.push_back(std::stoi(line.substr(unconfirmedPrefix.size())));
            afterUnconfirmed = true;
        } else if (afterUnconfirmed) {
            lineAfter = line;
            afterUnconfirmed = false;
        }
    }
    return numbers;
}

TEST_F(DroppedConnectionRun, AppendsInFlightAreNamedAndTheRunEndsWithoutWaitingOutTheTimeout) {
    const Outcome windowed = migrate("32");
    EXPECT_EQ(windowed.exitStatus, 3) << windowed.log;
    EXPECT_EQ(windowed.log.find("did not answer within"), std::string::npos) << windowed.log;
    // Whether the break shows at the write of a later append or at the read
    // of the first answer depends on how fast the server closes. At a write,
    // the appends sent before it are named and that append, which did not
    // leave whole, carries the network error; at the read, the first append
    // carries it and every other one is named.
    std::string lineAfter;
    const std::vector<int> named = unconfirmedMessages(windowed.log, lineAfter);
    ASSERT_FALSE(named.empty()) << windowed.log;
    EXPECT_TRUE(named.front() == 1 || named.front() == 2) << windowed.log;
    for (std::size_t i = 1; i < named.size(); ++i) EXPECT_EQ(named[i], named[i - 1] + 1) << windowed.log;
    if (named.front() == 2) EXPECT_EQ(named.back(), inboxMessages) << windowed.log;
    EXPECT_EQ(lineAfter, "Network error: cannot append message") << windowed.log;
    EXPECT_NE(windowed.log.find("Info: messages appended: 0, failed: " + std::to_string(named.size()) + "\n"),
              std::string::npos)
        << windowed.log;
    // Nothing went again on a new connection: the domain's check and the
    // account's connection are all there were, and nothing was stored.
    EXPECT_EQ(windowed.dump.stats.connections, 2u);
    const VantrelAccount* ann = windowed.dump.account("ann", "example.com");
    ASSERT_NE(ann, nullptr);
    ASSERT_NE(ann->folder("INBOX"), nullptr);
    EXPECT_TRUE(ann->folder("INBOX")->messages.empty());

    // Waiting for each answer, the run ends the same way with the first message.
    const Outcome one = migrate("1");
    EXPECT_EQ(one.exitStatus, 3) << one.log;
    EXPECT_EQ(one.log.find("unconfirmed"), std::string::npos) << one.log;
    EXPECT_NE(one.log.find("Network error: cannot append message\n"), std::string::npos) << one.log;
    EXPECT_NE(one.log.find("Info: messages appended: 0, failed: 0\n"), std::string::npos) << one.log;
    EXPECT_EQ(one.dump.stats.connections, 2u);
}

}  // namespace
