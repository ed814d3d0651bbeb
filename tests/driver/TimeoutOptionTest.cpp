#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "driver/Help.h"
#include "support/RunTool.h"
#include "support/StoreBuilder.h"

namespace {

using tarmig::testing::filesMatching;
using tarmig::testing::runTool;
using tarmig::testing::TempDir;

TEST(TimeoutOption, ListedInTheHelpText) {
    std::ostringstream help;
    tarmig::printHelp(help);
    EXPECT_NE(help.str().find("\n       -timeout   seconds to wait for each answer of Vantrel (optional, default 180)\n"),
              std::string::npos);
}

TEST(TimeoutOption, ValueThatIsNoWholeNumberFromOneIsAnArgumentError) {
    TempDir work;
    const std::string error =
        "Argument error: -timeout needs a whole number of seconds, at least 1, for help use \"-help\"\n";
    for (const char* value : {"0", "-1", "ten", "3s"}) {
        auto run = runTool({"-path", "/s", "-migrate", "-server", "h", "-password", "p", "-timeout", value},
                           work.path());
        EXPECT_EQ(run.exitStatus, 2) << value;
        EXPECT_EQ(run.out, error) << value;
    }
    // Print mode never waits for a server, but a bad value is still refused.
    auto run = runTool({"-path", "/s", "-timeout", "0"}, work.path());
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, error);
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
}

}  // namespace
