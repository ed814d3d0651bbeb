#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// -verify compares every folder of the store with the target, after a
// migration or on its own, and a difference fails the run.
namespace {

using namespace tarmig::testing;

class VerifyRun : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string account = builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}),
                                                     infoText("", {{"INBOX", "", "3", ""}, {"Archive", "", "2", ""}}));
        builder.addMboxFolder(account, "INBOX",
                              mboxText({storedMessage("Message-ID: <a@x>\nSubject: a\n\none\n", "S", "20-02-2004_12:34:56_"),
                                        storedMessage("Subject: b\n\ntwo\n", "", "21-02-2004_08:00:00_"),
                                        storedMessage("Subject: c\n\nthree\n", "A", "22-02-2004_08:00:00_")}));
        const std::string archive = builder.addMdirFolder(account, "Archive");
        builder.addMdirMessage(archive, "", "20040305081910", "Message-Id: <m1@x>\n\nfour\n");
        builder.addMdirMessage(archive, "S", "20040305081911", "Message-Id: <m2@x>\n\nfive\n");
    }

    std::vector<std::string> arguments(const VantrelServer& server, bool migrate) {
        std::vector<std::string> args = {"-path", store.path(), "-primaryDomain", "example.com", "-verify",
                                         "-server", "127.0.0.1", "-port", std::to_string(server.port()),
                                         "-password", server.masterPassword()};
        if (migrate) args.push_back("-migrate");
        return args;
    }

    ToolRun run(const VantrelServer& server, bool migrate) {
        TempDir work;
        return runTool(arguments(server, migrate), work.path());
    }

    TempDir store;
    StoreBuilder builder{store.path()};
};

TEST_F(VerifyRun, AfterAMigrationEachAccountIsFoundWhole) {
    VantrelServer server;
    const ToolRun migrated = run(server, true);
    EXPECT_EQ(0, migrated.exitStatus) << migrated.out;
    EXPECT_NE(std::string::npos, migrated.out.find("Info: verified <ann@example.com>: 2 folders, 5 messages\n"))
        << migrated.out;
    EXPECT_NE(std::string::npos, migrated.out.find("Info: folders verified: 2\n"));

    const ToolRun checked = run(server, false);
    EXPECT_EQ(0, checked.exitStatus) << checked.out;
    EXPECT_NE(std::string::npos, checked.out.find("Info: verified <ann@example.com>: 2 folders, 5 messages\n"));
    server.stop();
    EXPECT_EQ(5u, server.dump().stats.appends);
}

TEST_F(VerifyRun, FindsAMessageRemovedFromTheTargetOneAddedThereAndChangedFlagsChangingNothing) {
    TempDir edited;
    const std::string dumpFile = edited.path() + "/edited.json";
    {
        VantrelServer server;
        ASSERT_EQ(0, run(server, true).exitStatus);
        server.stop();
        nlohmann::json state = nlohmann::json::parse(readFile(server.dumpFile()));
        for (nlohmann::json& folder : state["accounts"][0]["folders"]) {
            nlohmann::json& messages = folder["messages"];
            if (folder["name"] == "INBOX") {
                messages[0]["flags"] = nlohmann::json::array();
                messages.erase(1);
            } else {
                nlohmann::json copy = messages[0];
                copy["uid"] = 100;
                messages.push_back(copy);
            }
            folder["messageCount"] = messages.size();
        }
        writeFile(dumpFile, state.dump());
    }
    VantrelServer server({.arguments = {"--load", dumpFile}});
    const ToolRun checked = run(server, false);
    EXPECT_EQ(1, checked.exitStatus) << checked.out;
    EXPECT_NE(std::string::npos,
              checked.out.find("Error: verify <ann@example.com> folder \"INBOX\": 1 message missing on the target, "
                               "flags differ on 1 message (the store holds 3, the target 2)\n"))
        << checked.out;
    EXPECT_NE(std::string::npos, checked.out.find("Error: verify <ann@example.com> folder \"Archive\": 1 message "
                                                  "extra on the target (the store holds 2, the target 3)\n"));
    EXPECT_EQ(std::string::npos, checked.out.find("Info: verified"));
    EXPECT_NE(std::string::npos, checked.out.find("Result: migration failed"));
    server.stop();
    const VantrelDump dump = server.dump();
    EXPECT_EQ(0u, dump.stats.appends);
    EXPECT_EQ(0u, dump.stats.stores);
    EXPECT_EQ(2u, dump.account("ann", "example.com")->folder("INBOX")->messages.size());
}

TEST_F(VerifyRun, AnAccountMissingOnTheTargetFailsAndIsNotCreated) {
    VantrelServer server;
    const ToolRun checked = run(server, false);
    EXPECT_EQ(1, checked.exitStatus) << checked.out;
    EXPECT_NE(std::string::npos,
              checked.out.find("Error: verify <ann@example.com>: the account does not exist on the target\n"))
        << checked.out;
    server.stop();
    EXPECT_TRUE(server.dump().accounts.empty());
}

TEST_F(VerifyRun, WithoutMigrateItStillNeedsTheServerAndThePassword) {
    TempDir work;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"-path", store.path(), "-verify", "-password", "master"},
          std::vector<std::string>{"-path", store.path(), "-verify", "-server", "127.0.0.1"},
          std::vector<std::string>{"-verify", "-server", "127.0.0.1", "-password", "master"}}) {
        const ToolRun refused = runTool(args, work.path());
        EXPECT_EQ(2, refused.exitStatus) << refused.out;
        EXPECT_NE(std::string::npos, refused.out.find("Argument error: missing required command line arguments"));
    }
}

}  // namespace
