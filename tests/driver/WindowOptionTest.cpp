#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "driver/Help.h"
#include "migrator/Migrator.h"
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

// The value after -window is the option's, never an unknown argument.
int windowOf(std::vector<std::string> args) {
    args.insert(args.begin(), "tarmig");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    std::string path, domain, user, password, setPass, forceSetPass, server, primaryDomain, unknown;
    int port = 0, timeout = 0, window = -1;
    bool migrate, force, quiet, help, fixLineEnds, useTls, insecure;
    tarmig::Migrator::parseArgs(static_cast<int>(argv.size()), argv.data(), path, domain, user, password, setPass,
                                forceSetPass, server, port, primaryDomain, migrate, force, quiet, help, fixLineEnds,
                                useTls, insecure, unknown, timeout, &window);
    EXPECT_EQ(unknown, "");
    return window;
}

TEST(WindowOption, DefaultAndGivenValues) {
    EXPECT_EQ(windowOf({"-path", "/s"}), 32);
    EXPECT_EQ(windowOf({"-path", "/s", "-WINDOW", "1"}), 1);
    EXPECT_EQ(windowOf({"-window", "128", "-path", "/s"}), 128);
    EXPECT_EQ(windowOf({"-path", "/s", "-window", "many"}), 0);
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
