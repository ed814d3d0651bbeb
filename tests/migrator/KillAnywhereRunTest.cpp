#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// A run killed at any of its steps, then run again with -incremental, leaves
// the target as one clean run does: each message once, with its flags and
// its date.
namespace {

using namespace tarmig::testing;

// Per folder, its messages as (data, flags in order, date), sorted: what a
// user sees, whatever order the appends came in.
using Holding = std::map<std::string, std::vector<std::tuple<std::string, std::vector<std::string>, std::string>>>;

Holding holding(const VantrelDump& dump) {
    Holding folders;
    const VantrelAccount* ann = dump.account("ann", "example.com");
    if (ann == nullptr) return folders;
    for (const VantrelFolder& folder : ann->folders) {
        auto& messages = folders[folder.name];
        for (const VantrelMessage& m : folder.messages) {
            std::vector<std::string> flags = m.flags;
            std::sort(flags.begin(), flags.end());
            messages.emplace_back(m.data, flags, m.internalDate);
        }
        std::sort(messages.begin(), messages.end());
    }
    return folders;
}

TEST(KillAnywhereRun, EveryStepKilledThenResumedLeavesEachMessageOnceWithFlagsAndDate) {
    TempDir store;
    StoreBuilder builder{store.path()};
    const std::string account = builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}),
                                                 infoText("", {{"INBOX", "", "3", ""}, {"Archive", "", "2", ""}}));
    builder.addMboxFolder(account, "INBOX",
                          mboxText({storedMessage("Message-ID: <a@x>\nSubject: a\n\none\n", "S", "20-02-2004_12:34:56_"),
                                    storedMessage("Message-ID: <a@x>\nSubject: a\n\none\n", "", "20-02-2004_12:34:56_"),
                                    storedMessage("Subject: b\n\ntwo\n", "AF", "21-02-2004_08:00:00_")}));
    const std::string archive = builder.addMdirFolder(account, "Archive");
    builder.addMdirMessage(archive, "D", "20040305081910", "Message-Id: <m1@x>\n\nthree\n");
    builder.addMdirMessage(archive, "S", "20040305081911", "Message-Id: <m2@x>\n\nfour\n");

    auto migrate = [&](const VantrelServer& server) {
        TempDir work;
        return runTool({"-path", store.path(), "-primaryDomain", "example.com", "-migrate", "-incremental",
                        "-server", "127.0.0.1", "-port", std::to_string(server.port()), "-password", "master"},
                       work.path());
    };

    Holding clean;
    {
        VantrelServer server;
        ASSERT_EQ(0, migrate(server).exitStatus);
        server.stop();
        clean = holding(server.dump());
    }
    ASSERT_EQ(2u, clean.size());

    int k = 1;
    for (; k < 200; ++k) {
        SCOPED_TRACE("step " + std::to_string(k));
        VantrelServer server;
        ::setenv("TARMIG_TEST_STOP_AT", std::to_string(k).c_str(), 1);
        const ToolRun killed = migrate(server);
        ::unsetenv("TARMIG_TEST_STOP_AT");
        const bool finished = killed.exitStatus != 128 + SIGKILL;
        const ToolRun resumed = migrate(server);
        EXPECT_EQ(0, resumed.exitStatus) << resumed.out;
        server.stop();
        EXPECT_EQ(clean, holding(server.dump()));
        if (finished) break;
    }
    EXPECT_LT(k, 200) << "the run never ended on its own";
    EXPECT_GT(k, 15) << "a migration takes more steps than that";
}

}  // namespace
