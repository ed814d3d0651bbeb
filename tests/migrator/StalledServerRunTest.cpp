#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Servers that keep a command's answer coming without ever completing it in
// time: the run must end on its own, say why and fail. The limits checked
// are generous; they tell a bounded run from one held by the server.
namespace {

using namespace tarmig::testing;

constexpr auto runLimit = std::chrono::seconds(30);
const std::string timeoutLine = "Network error: Vantrel did not answer within 2 seconds (-timeout)\n";

class StalledServerRun : public ::testing::Test {
protected:
    TempDir store;

    StalledServerRun() {
        StoreBuilder builder(store.path());
        std::string account = builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}),
                                               infoText("1", {{"INBOX", "", "2", ""}}));
        MboxMessage first, second;
        first.data = "Subject: 1\n\none\n";
        second.data = "Subject: 2\n\ntwo\n";
        second.uid = "2";
        builder.addMboxFolder(account, "INBOX", mboxText({first, second}));
    }

    // Migrates the store into a server with these fault options, with a
    // two-second time-out; checks the run's outcome and how long it took.
    void expectBoundedFailure(const std::vector<std::string>& faults, bool tls) {
        VantrelServer server({.arguments = faults, .tls = tls});
        std::vector<std::string> args{"-path", store.path(), "-primaryDomain", "example.com", "-migrate",
                                      "-server", "127.0.0.1", "-port", std::to_string(server.port()),
                                      "-password", server.masterPassword(), "-timeout", "2"};
        if (tls) {
            args.insert(args.end(), {"-ssl", "-insecure"});
        }
        TempDir work;
        const auto started = std::chrono::steady_clock::now();
        ToolRun run = runTool(args, work.path());
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_LT(took, runLimit);
        EXPECT_EQ(run.exitStatus, 3);
        EXPECT_NE(run.out.find(timeoutLine), std::string::npos) << run.out;
        EXPECT_TRUE(run.out.ends_with("Result: migration failed\n")) << run.out;
        auto logs = filesMatching(work.path(), "tarmig_", ".log");
        ASSERT_EQ(logs.size(), 1u);
        EXPECT_NE(readFile(logs[0]).find(timeoutLine), std::string::npos);
    }
};

TEST_F(StalledServerRun, AnswerTrickledAByteASecond) {
    expectBoundedFailure({"--trickle-after", "0", "--fault-commands", "X-CREATEUSER"}, false);
}

TEST_F(StalledServerRun, UntaggedLinesWithoutEnd) {
    expectBoundedFailure({"--flood-after", "1", "--fault-commands", "APPEND,X-APPEND"}, false);
}

TEST_F(StalledServerRun, OverTlsToo) {
    expectBoundedFailure({"--trickle-after", "0", "--fault-commands", "APPEND,X-APPEND"}, true);
    expectBoundedFailure({"--flood-after", "0", "--fault-commands", "X-SETUSER"}, true);
}

}  // namespace
