#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "driver/Help.h"
#include "support/RunTool.h"
#include "support/StoreBuilder.h"

namespace {

using tarmig::testing::filesMatching;
using tarmig::testing::runTool;
using tarmig::testing::TempDir;

TEST(JobsOption, ListedInTheHelpText) {
    std::ostringstream help;
    tarmig::printHelp(help);
    EXPECT_NE(help.str().find("\n       -jobs      accounts migrated at once, each on its own connection (optional, "
                              "default 1, at most 64)\n"),
              std::string::npos);
}

TEST(JobsOption, ValueThatIsNoWholeNumberFromOneToSixtyFourIsAnArgumentError) {
    TempDir work;
    const std::string error =
        "Argument error: -jobs needs a whole number of accounts from 1 to 64, for help use \"-help\"\n";
    for (const char* value : {"0", "65", "-4", "four", "4x", "", "99999999999"}) {
        auto run = runTool({"-path", "/s", "-migrate", "-server", "h", "-password", "p", "-JOBS", value},
                           work.path());
        EXPECT_EQ(run.exitStatus, 2) << value;
        EXPECT_EQ(run.out, error) << value;
    }
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
}

TEST(JobsOption, WrittenLastWithoutItsValueIsAnArgumentError) {
    TempDir work;
    auto run = runTool({"-path", "/s", "-migrate", "-server", "h", "-password", "p", "-jobs"}, work.path());
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "Argument error: option -jobs needs a value, for help use \"-help\"\n");
}

TEST(JobsOption, BoundsAreAccepted) {
    TempDir work, store;
    tarmig::testing::makeDirs(store.path() + "/Accounts");
    for (const char* value : {"1", "64"}) {
        auto run = runTool({"-path", store.path(), "-primaryDomain", "example.com", "-jobs", value, "-quiet"},
                           work.path());
        EXPECT_EQ(run.exitStatus, 0) << value << run.out;
    }
}

}  // namespace
