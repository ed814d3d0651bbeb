#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// The test-only switch that kills a run at its k-th step, the ground of the
// tests that resume a run killed anywhere.
namespace {

using namespace tarmig::testing;

TEST(StopSwitchRun, KillsTheRunAtEveryStepInTurnUntilItEndsOnItsOwn) {
    TempDir store;
    StoreBuilder builder{store.path()};
    std::vector<MboxMessage> inbox;
    for (int n = 1; n <= 3; ++n) {
        MboxMessage m;
        m.data = "Subject: " + std::to_string(n) + "\n\nbody\n";
        m.uid = std::to_string(n);
        inbox.push_back(m);
    }
    builder.addMboxAccount("", "ann", settingsText({{"Password", "pw"}}), infoText("1", {{"INBOX", "", "3", ""}}),
                           mboxText(inbox));

    std::uint64_t appendsBefore = 0;
    bool stoppedBetweenAppends = false;
    int k = 1;
    for (; k < 200; ++k) {
        VantrelServer server;
        TempDir work;
        ::setenv("TARMIG_TEST_STOP_AT", std::to_string(k).c_str(), 1);
        const ToolRun run = runTool({"-path", store.path(), "-primaryDomain", "example.com", "-migrate", "-server",
                                     "127.0.0.1", "-port", std::to_string(server.port()), "-password", "master"},
                                    work.path());
        ::unsetenv("TARMIG_TEST_STOP_AT");
        server.stop();
        const VantrelStats stats = server.dump().stats;
        if (run.exitStatus != 128 + SIGKILL) {
            EXPECT_EQ(run.exitStatus, 0) << "step " << k << "\n" << run.out;
            EXPECT_EQ(stats.appends, 3u);
            break;
        }
        // Each command sent is a step: a run stopped at step k sent fewer than k.
        EXPECT_LT(stats.commands, static_cast<std::uint64_t>(k)) << "step " << k;
        EXPECT_GE(stats.appends, appendsBefore) << "step " << k;
        if (stats.appends > 0 && stats.appends < 3) stoppedBetweenAppends = true;
        appendsBefore = stats.appends;
    }
    EXPECT_LT(k, 200) << "the run never ended on its own";
    EXPECT_GT(k, 10) << "a migration takes more steps than that";
    EXPECT_TRUE(stoppedBetweenAppends);
}

}  // namespace
