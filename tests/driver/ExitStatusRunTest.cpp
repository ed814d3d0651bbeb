#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/LoopbackSocket.h"
#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// What each exit status of the built binary means to a script: 0 success,
// 1 the run went to its end with failures, 2 argument errors, 3 the target
// could not be used and the run ended early.
namespace {

using namespace tarmig::testing;

class ExitStatusRun : public ::testing::Test {
protected:
    TempDir store;
    TempDir work;
    StoreBuilder builder{store.path()};

    void SetUp() override {
        for (const char* name : {"ann", "bob"}) {
            const std::string account = builder.addMacnt("", name, settingsText({{"Password", "pw"}}),
                                                         infoText("1", {{"INBOX", "", "2", ""}}));
            builder.addMboxFolder(account, "INBOX",
                                  mboxText({{"Subject: one\n\none\n", "S", "1"}, {"Subject: two\n\ntwo\n", "", "2"}}));
        }
    }

    ToolRun migrate(unsigned port, const std::string& password = "master", const TempDir* in = nullptr) {
        return runTool({"-path", store.path(), "-primaryDomain", "example.com", "-migrate", "-server", "127.0.0.1",
                        "-port", std::to_string(port), "-password", password},
                       (in != nullptr ? *in : work).path());
    }

    std::string log() {
        auto logs = filesMatching(work.path(), "tarmig_", ".log");
        return logs.size() == 1 ? readFile(logs[0]) : "";
    }
};

TEST_F(ExitStatusRun, ZeroWhenEverythingArrived) {
    VantrelServer server;
    EXPECT_EQ(migrate(server.port()).exitStatus, 0);
    EXPECT_TRUE(log().ends_with("Result: migration successful\n"));
}

TEST_F(ExitStatusRun, OneWhenTheRunWentToItsEndWithAFailure) {
    VantrelServer server({.arguments = {"--refuse-append", "1"}});
    ToolRun run = migrate(server.port());
    server.stop();
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_TRUE(log().ends_with("Result: migration failed\n"));
    // The run went on after the refusal: only the refused message is missing.
    const VantrelDump dump = server.dump();
    std::size_t arrived = 0;
    for (const char* name : {"ann", "bob"}) {
        const VantrelAccount* account = dump.account(name, "example.com");
        ASSERT_NE(account, nullptr) << name;
        ASSERT_NE(account->folder("INBOX"), nullptr) << name;
        arrived += account->folder("INBOX")->messages.size();
    }
    EXPECT_EQ(arrived, 3u);
}

TEST_F(ExitStatusRun, TwoForArgumentErrorsBeforeAnythingIsDone) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-path", store.path(), "-bogus"}, {"-migrate", "-server", "h", "-password", "p"},
          {"-path", store.path(), "-window", "0"}}) {
        EXPECT_EQ(runTool(args, work.path()).exitStatus, 2) << args[1];
    }
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
}

TEST_F(ExitStatusRun, ThreeWhenTheTargetCannotBeUsed) {
    {
        const unsigned closedPort = freeLoopbackPort();
        ASSERT_NE(closedPort, 0u);
        EXPECT_EQ(migrate(closedPort).exitStatus, 3);
        EXPECT_NE(log().find("Network error: cannot connect to Vantrel\n"), std::string::npos);
    }
    {
        TempDir again;
        VantrelServer server;
        ToolRun run = migrate(server.port(), "wrong", &again);
        EXPECT_EQ(run.exitStatus, 3);
        EXPECT_NE(run.out.find("Error: problem with authentication to Vantrel\n"), std::string::npos);
    }
    {
        TempDir again;
        VantrelServer server({.arguments = {"--drop-after", "1", "--fault-commands", "APPEND,X-APPEND"}});
        ToolRun run = migrate(server.port(), "master", &again);
        EXPECT_EQ(run.exitStatus, 3);
        EXPECT_NE(run.out.find("Result: migration failed\n"), std::string::npos);
    }
}

}  // namespace
