#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <set>
#include <sstream>
#include <string>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// The README's way of running the parts of a store with GNU parallel, on this
// host only (--sshlogin 2/:, no ssh), then merging their password reports.
namespace {

using namespace tarmig::testing;

TEST(ShardParallelRun, PartsRunByGnuParallelMigrateEveryAccountOnce) {
    if (std::system("command -v parallel >/dev/null 2>&1") != 0) GTEST_SKIP() << "GNU parallel is not installed";
    TempDir store, out, secrets;
    StoreBuilder builder{store.path()};
    std::set<std::string> expected;
    for (int i = 0; i < 20; ++i) {
        const std::string name = "user" + std::to_string(i);
        const std::string dir = builder.addMacnt("", name, settingsText({{"Password", "pw"}}),
                                                 infoText("1", {{"INBOX", "", "1", ""}}));
        builder.addMboxFolder(dir, "INBOX", mboxText({{"Subject: " + name + "\n\nhi\n", "", "1"}}));
        expected.insert("<" + name + "@example.com>, password: \"pw\"");
    }
    const std::string passwordFile = secrets.path() + "/vantrel.pass";
    writeFile(passwordFile, "master\n");
    chmod(passwordFile.c_str(), 0600);

    VantrelServer server;
    const std::string command =
        "cd '" + out.path() + "' && seq 1 4 | parallel --will-cite --sshlogin 2/: --joblog parts.joblog --tag "
        "'mkdir -p " + out.path() + "/part-{} && cd " + out.path() + "/part-{} && " TARMIG_BINARY " -path " +
        store.path() + " -primaryDomain example.com -migrate -server 127.0.0.1 -port " +
        std::to_string(server.port()) + " -passwordFile " + passwordFile +
        " -quiet -shard {}/4' >/dev/null 2>&1 && "
        "(umask 077; cat part-*/tarmig_*.pass > tarmig.pass)";
    EXPECT_EQ(std::system(command.c_str()), 0);
    server.stop();

    // Every part ended with exit status 0 (the joblog's seventh column).
    std::istringstream joblog(readFile(out.path() + "/parts.joblog"));
    std::string line;
    std::getline(joblog, line);
    int parts = 0;
    while (std::getline(joblog, line)) {
        std::istringstream fields(line);
        std::string field;
        for (int i = 0; i < 7; ++i) std::getline(fields, field, '\t');
        EXPECT_EQ(field, "0") << line;
        ++parts;
    }
    EXPECT_EQ(parts, 4);
    for (int k = 1; k <= 4; ++k) {
        const std::string part = out.path() + "/part-" + std::to_string(k);
        ASSERT_EQ(filesMatching(part, "tarmig_", ".log").size(), 1u) << part;
        EXPECT_TRUE(readFile(filesMatching(part, "tarmig_", ".log")[0]).ends_with("Result: migration successful\n"));
    }

    std::multiset<std::string> merged;
    std::istringstream report(readFile(out.path() + "/tarmig.pass"));
    while (std::getline(report, line)) merged.insert(line);
    EXPECT_EQ(merged, std::multiset<std::string>(expected.begin(), expected.end()));
    const VantrelDump dump = server.dump();
    EXPECT_EQ(dump.accounts.size(), 20u);
    for (const VantrelAccount& account : dump.accounts) {
        ASSERT_NE(account.folder("INBOX"), nullptr) << account.name;
        EXPECT_EQ(account.folder("INBOX")->messages.size(), 1u) << account.name;
    }
}

}  // namespace
