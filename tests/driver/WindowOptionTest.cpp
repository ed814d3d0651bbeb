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

TEST(WindowOption, ListedInTheHelpText) {
    std::ostringstream help;
    tarmig::printHelp(help);
    EXPECT_NE(help.str().find("\n       -window    appends sent ahead of their answers (optional, default 32, 1 waits "
                              "for each)\n"),
              std::string::npos);
}

TEST(WindowOption, ValueThatIsNoWholeNumberFromOneIsAnArgumentError) {
    TempDir work;
    const std::string error =
        "Argument error: -window needs a whole number of appends, at least 1, for help use \"-help\"\n";
    for (const char* value : {"0", "-4", "eight", "8x"}) {
        auto run = runTool({"-path", "/s", "-migrate", "-server", "h", "-password", "p", "-window", value},
                           work.path());
        EXPECT_EQ(run.exitStatus, 2) << value;
        EXPECT_EQ(run.out, error) << value;
    }
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
}

}  // namespace
