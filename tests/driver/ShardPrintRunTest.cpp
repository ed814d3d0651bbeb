#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"

// A store split into parts by -shard, listed by the built binary: every
// account falls into exactly one part, whatever the number of parts.
namespace {

using namespace tarmig::testing;

// "account@domain" for every account line of a listing.
std::set<std::string> listed(const std::string& out) {
    std::set<std::string> accounts;
    std::istringstream lines(out);
    std::string line, domain;
    while (std::getline(lines, line)) {
        if (line.starts_with("domain (") && line.ends_with(")")) domain = line.substr(8, line.size() - 9);
        const auto open = line.find(" + mailbox <");
        if (open == 0) accounts.insert(line.substr(12, line.find('>') - 12) + "@" + domain);
    }
    return accounts;
}

class ShardPrintRun : public ::testing::Test {
protected:
    TempDir store;
    TempDir work;
    StoreBuilder builder{store.path()};

    ToolRun print(std::vector<std::string> extra) {
        std::vector<std::string> args{"-path", store.path(), "-primaryDomain", "example.com"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runTool(args, work.path());
    }
};

TEST_F(ShardPrintRun, PartsOfAThousandAccountsCoverTheStoreOnceEach) {
    const std::string info = infoText("1", {});
    for (int i = 0; i < 600; ++i) builder.addMacnt("", "user" + std::to_string(i), settingsText({}), info);
    for (int i = 0; i < 400; ++i) builder.addMacnt("other.org", "u" + std::to_string(i), settingsText({}), info);

    ToolRun whole = print({});
    ASSERT_EQ(whole.exitStatus, 0) << whole.out;
    const std::set<std::string> all = listed(whole.out);
    ASSERT_EQ(all.size(), 1000u);

    for (unsigned count : {1u, 2u, 4u, 7u}) {
        std::set<std::string> seen;
        for (unsigned index = 1; index <= count; ++index) {
            const std::string value = std::to_string(index) + "/" + std::to_string(count);
            ToolRun part = print({"-shard", value});
            ASSERT_EQ(part.exitStatus, 0) << value << "\n" << part.out;
            const std::set<std::string> accounts = listed(part.out);
            // Far from empty and far from whole: the hash spreads the accounts.
            EXPECT_GT(accounts.size(), 1000u / count / 2) << value;
            for (const std::string& account : accounts) {
                EXPECT_TRUE(all.count(account)) << account;
                EXPECT_TRUE(seen.insert(account).second) << account << " is in two parts of " << count;
            }
            // Both domains are still visited in every part.
            EXPECT_NE(part.out.find("\ndomain (example.com)\n"), std::string::npos);
            EXPECT_NE(part.out.find("\ndomain (other.org)\n"), std::string::npos);
        }
        EXPECT_EQ(seen, all) << count << " parts";
    }
}

TEST_F(ShardPrintRun, AccountThatCannotBeReadIsReportedByItsOwnPartOnly) {
    builder.addMacnt("", "ann", settingsText({}), infoText("1", {}));
    builder.addMacnt("", "bob", settingsText({}), infoText("1", {}));
    const std::string bad = builder.addMacnt("", "bad", settingsText({}), infoText("1", {}));
    std::remove((bad + "/account.settings").c_str());
    int reported = 0;
    for (const char* value : {"1/3", "2/3", "3/3"}) {
        ToolRun part = print({"-shard", value});
        const bool failed = part.out.find("Error: cannot print mailbox <bad>\n") != std::string::npos;
        EXPECT_EQ(part.exitStatus, failed ? 1 : 0) << value << "\n" << part.out;
        reported += failed ? 1 : 0;
    }
    EXPECT_EQ(reported, 1);
}

TEST_F(ShardPrintRun, MalformedValueIsAnArgumentError) {
    const std::string error = "Argument error: -shard needs K/N, whole numbers with 1 <= K <= N, for help use \"-help\"\n";
    for (const char* value : {"0/4", "5/4", "2", "1/0", "junk", "1/4 ", ""}) {
        ToolRun run = print({"-shard", value});
        EXPECT_EQ(run.exitStatus, 2) << value;
        EXPECT_EQ(run.out, error) << value;
    }
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
}

}  // namespace
