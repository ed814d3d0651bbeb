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

std::string helpText() {
    std::ostringstream out;
    tarmig::printHelp(out);
    return out.str();
}

TEST(Help, VersionAndTextLines) {
    EXPECT_STREQ(tarmig::getProductVersion(), "9.0.4-T1-1154");
    std::string help = helpText();
    EXPECT_EQ(help.rfind("\nStalker CommuniGate Pro to Vantrel migration tool v9.0.4-T1-1154\n", 0), 0u);
    for (const char* line :
         {"Usage: tarmig -path PATH [options]\n",
          "                  typically \"/var/CommuniGate\", \"c:\\CommuniGate Files\", etc.\n",
          "       -port      IMAP port number (optional, default 143)\n",
          "       -forceSetPass   password for migrated user (optional), see readme.html\n",
          "       -primaryDomain  the name of primary domain (optional but recommended)\n",
          "       -help      print help and exit (optional)\n       -ssl ",
          "\nNotes: CommuniGate must be stopped before migration!\n"
          "       migration process is logged into tarmig_[datetime].log file\n"
          "       exit status: 0 success, 1 something failed, 2 argument error, 3 Vantrel unusable (run ended early)\n\n"
          "For more details, see readme.html\n\n"}) {
        EXPECT_NE(help.find(line), std::string::npos) << line;
    }
    EXPECT_TRUE(help.ends_with("For more details, see readme.html\n\n"));
    EXPECT_EQ(help.find("disableCrLfFixing"), std::string::npos);
}

TEST(Help, PrintedWithoutArgumentsOrOnRequestAndNoFilesCreated) {
    TempDir work;
    for (auto args : {std::vector<std::string>{}, {"-?"}, {"-path", "/x", "-HELP"}, {"-migrate", "-help"}}) {
        auto run = runTool(args, work.path());
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.out, helpText());
        EXPECT_EQ(run.err, "");
    }
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
}

TEST(ArgumentErrors, MissingRequiredArgumentsStopTheRunWithStatus2) {
    TempDir work;
    const std::string missing = "Argument error: missing required command line arguments, for help use \"-help\"\n";
    for (auto args : {std::vector<std::string>{"-quiet"},
                      {"-path", "/s", "-migrate", "-server", "h"},
                      {"-path", "/s", "-migrate", "-password", "p"}}) {
        auto run = runTool(args, work.path());
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, missing);
    }
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
}

TEST(ArgumentErrors, MistypedOptionStopsTheRunBeforeItStarts) {
    TempDir work, store;
    struct Case {
        std::vector<std::string> args;
        std::string named;
    };
    for (const Case& c : {Case{{"-path", store.path(), "-domian", "example.org"}, "-domian"},
                          Case{{"-pth", "/s"}, "-pth"},  // named rather than the missing arguments
                          Case{{"-path", store.path(), "-migrate", "-server", "127.0.0.1", "-password", "m", "extra"},
                               "extra"}}) {
        auto run = runTool(c.args, work.path());
        EXPECT_EQ(run.exitStatus, 2);
        EXPECT_EQ(run.out, "Argument error: unknown option " + c.named + ", for help use \"-help\"\n");
    }
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
    // Help still wins: it is what the user asked for.
    EXPECT_EQ(runTool({"-hepl", "-help"}, work.path()).exitStatus, 0);
}

// Without its value a mask would be "*": the whole store instead of a part.
TEST(ArgumentErrors, ValueOptionWithoutItsValueStopsTheRun) {
    TempDir work, store;
    for (const char* option : {"-domain", "-USER", "-shard", "-path"}) {
        auto run = runTool({"-path", store.path(), "-domain", "d.org", option}, work.path());
        EXPECT_EQ(run.exitStatus, 2) << option;
        EXPECT_EQ(run.out, "Argument error: option " + std::string(option) + " needs a value, for help use \"-help\"\n");
    }
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
}

TEST(ArgumentErrors, UserWithoutDomainNamesTheUser) {
    TempDir work;
    auto run = runTool({"-path", "/s", "-user", "an*"}, work.path());
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "Argument error: unknown domain for user <an*>\n");
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
}

}  // namespace
