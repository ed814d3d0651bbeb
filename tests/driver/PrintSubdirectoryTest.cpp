#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"

// Print mode over domains that keep accounts in nested ".sub" directories.
namespace {

using namespace tarmig::testing;

// The " + mailbox" lines of one domain's block of the console output, sorted.
std::vector<std::string> accountLines(const std::string& out, const std::string& domain) {
    std::vector<std::string> lines;
    size_t at = out.find("\ndomain (" + domain + ")\n");
    if (at == std::string::npos) return lines;
    std::istringstream block(out.substr(out.find('\n', at + 1) + 1));
    for (std::string line; std::getline(block, line) && line.rfind(" + mailbox <", 0) == 0;) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

TEST(PrintSubdirectories, AccountsBelowSubdirectoriesAreListedWithTheirDomain) {
    TempDir store, work;
    StoreBuilder builder(store.path());
    builder.addMacnt("", "top", "{}", "{#StorageUsed = #10;}");
    builder.addMacnt("", "a.sub/b.sub/deep", "{RealName = \"Deep\" \" Down\";}", "{#StorageUsed = #2048;}");
    builder.addMboxAccount("", "a.sub/b.sub/single", "{}", "{#StorageUsed = #1;}", "");
    builder.addMdirAccount("", "a.sub/dir", "{Seen = #I[1.2.3.4]:110;}", "{#StorageUsed = #3;}");
    builder.addMacnt("other.org", "x.sub/bob", "{}", "{#StorageUsed = #4;}");
    std::string accounts = builder.domainDir("");
    makeDirs(accounts + "/junk.d");
    ASSERT_EQ(0, symlink("a.sub", (accounts + "/b.link").c_str()));

    auto run = runTool({"-path", store.path(), "-primaryDomain", "example.com"}, work.path());
    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_EQ((std::vector<std::string>{" + mailbox <deep>, size: 2.0KB", " + mailbox <dir>, size: 3B",
                                        " + mailbox <single>, size: 1B", " + mailbox <top>, size: 10B"}),
              accountLines(run.out, "example.com"));
    EXPECT_EQ((std::vector<std::string>{" + mailbox <bob>, size: 4B"}), accountLines(run.out, "other.org"));
    // The warnings go to the log only.
    EXPECT_EQ(std::string::npos, run.out.find("Warning"));
    auto logs = filesMatching(work.path(), "tarmig_", ".log");
    ASSERT_EQ(1u, logs.size());
    std::string log = readFile(logs[0]);
    EXPECT_NE(std::string::npos, log.find("Warning: directory \"" + accounts +
                                          "/junk.d\" in domain example.com is not an account, ignored\n"));
    EXPECT_NE(std::string::npos, log.find("Warning: symbolic link \"" + accounts +
                                          "/b.link\" in domain example.com is not followed, ignored\n"));
    EXPECT_NE(std::string::npos, log.find(" Info: read mailbox <deep> full name: \"Deep Down\""));
}

}  // namespace
