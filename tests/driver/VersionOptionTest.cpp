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

TEST(VersionOption, PrintsNameAndVersionAndWritesNothing) {
    TempDir work;
    for (auto args : {std::vector<std::string>{"-version"},
                      {"-VERSION"},
                      {"-path", "/nowhere", "-migrate", "-version"}}) {  // no run starts
        auto run = runTool(args, work.path());
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.out, "tarmig 9.0.4-T1-1154\n");
        EXPECT_EQ(run.err, "");
    }
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
}

TEST(VersionOption, AsTheValueOfAnotherOptionItIsThatValue) {
    TempDir work;
    auto run = runTool({"-migrate", "-server", "-version", "-password", "m"}, work.path());
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "Argument error: missing required command line arguments, for help use \"-help\"\n");
}

TEST(VersionOption, HelpListsItAndRunHeaderCarriesTheSameVersion) {
    std::ostringstream help;
    tarmig::printHelp(help);
    EXPECT_NE(help.str().find("\n       -version   print the version and exit (optional)\n"), std::string::npos);

    TempDir work, store;
    auto run = runTool({"-path", store.path()}, work.path());
    EXPECT_NE(run.out.find("\nStalker CommuniGate Pro to Vantrel migration tool 9.0.4-T1-1154\n"), std::string::npos)
        << run.out;
}

}  // namespace
