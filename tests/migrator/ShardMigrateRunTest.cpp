#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// A store migrated in two parts (-shard 1/2, then 2/2) by the built binary
// into one Vantrel test server: every account arrives once, whole, and each
// part's files name only its own accounts.
namespace {

using namespace tarmig::testing;

TEST(ShardMigrateRun, TwoPartsMigrateEveryAccountOnce) {
    TempDir store;
    StoreBuilder builder{store.path()};
    std::vector<std::pair<std::string, std::string>> accounts;  // name, domain
    for (int i = 0; i < 12; ++i) {
        const std::string name = "user" + std::to_string(i);
        const std::string domain = i % 3 == 0 ? "other.org" : "";
        const std::string dir = builder.addMacnt(domain, name, settingsText({{"Password", "pw" + name}}),
                                                 infoText("1", {{"INBOX", "", "1", ""}}));
        builder.addMboxFolder(dir, "INBOX", mboxText({{"Subject: " + name + "\n\nhello\n", "S", "1"}}));
        accounts.emplace_back(name, domain.empty() ? "example.com" : domain);
    }

    VantrelServer server;
    std::map<std::string, int> passwordLines;  // "<name@domain>" -> how many parts wrote one
    for (const char* part : {"1/2", "2/2"}) {
        TempDir work;
        ToolRun run = runTool({"-path", store.path(), "-primaryDomain", "example.com", "-migrate", "-server",
                               "127.0.0.1", "-port", std::to_string(server.port()), "-password", "master", "-shard",
                               part},
                              work.path());
        auto logs = filesMatching(work.path(), "tarmig_", ".log");
        ASSERT_EQ(logs.size(), 1u);
        const std::string log = readFile(logs[0]);
        EXPECT_EQ(run.exitStatus, 0) << part << "\n" << log;
        EXPECT_NE(log.find(std::string("Info: accounts of part ") + part[0] + " of 2 only (-shard " + part + ")\n"),
                  std::string::npos);
        EXPECT_TRUE(log.ends_with("Result: migration successful\n")) << log;
        auto reports = filesMatching(work.path(), "tarmig_", ".pass");
        ASSERT_EQ(reports.size(), 1u) << part;
        const std::string report = readFile(reports[0]);
        for (const auto& [name, domain] : accounts) {
            const std::string key = "<" + name + "@" + domain + ">";
            if (report.find(key + ",") != std::string::npos) ++passwordLines[key];
        }
    }
    server.stop();
    const VantrelDump dump = server.dump();
    EXPECT_EQ(dump.accounts.size(), accounts.size());
    for (const auto& [name, domain] : accounts) {
        const VantrelAccount* account = dump.account(name, domain);
        ASSERT_NE(account, nullptr) << name << "@" << domain;
        ASSERT_NE(account->folder("INBOX"), nullptr);
        ASSERT_EQ(account->folder("INBOX")->messages.size(), 1u) << name;
        EXPECT_EQ(account->folder("INBOX")->messages[0].data, "Subject: " + name + "\r\n\r\nhello\r\n");
        EXPECT_EQ(passwordLines["<" + name + "@" + domain + ">"], 1) << name << "@" << domain;
    }
}

}  // namespace
