#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>
#include <string>

#include "driver/Help.h"
#include "support/RunTool.h"
#include "support/StoreBuilder.h"

namespace {

using namespace tarmig::testing;

std::string header(const std::string& storePath) {
    return std::string("\nStalker CommuniGate Pro to Vantrel migration tool ") + tarmig::getProductVersion() + "\n" +
           tarmig::productNotice + "\n\nCommuniGate path: \"" + storePath + "\"\n";
}

std::string settings(const std::string& realName, const std::string& password) {
    return settingsText({{"RealName", realName}, {"Password", password}});
}

class PrintRun : public ::testing::Test {
protected:
    TempDir store, work;
    StoreBuilder builder{store.path()};

    std::string onlyLog() {
        auto logs = filesMatching(work.path(), "tarmig_", ".log");
        EXPECT_EQ(logs.size(), 1u);
        return logs.empty() ? "" : readFile(logs[0]);
    }
};

TEST_F(PrintRun, ListsDomainsAndAccountsWithSizes) {
    builder.addMacnt("", "ann", settings("Ann Lee", "pw"), infoText("1536", {{"INBOX", "", "2", ""}}));
    builder.addMacnt("other.org", "big", settings("", ""), infoText("3221225472", {}));
    auto run = runTool({"-path", store.path(), "-primaryDomain", "example.com"}, work.path());

    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, header(store.path()) +
                           "\ndomain (example.com)\n + mailbox <ann>, size: 1.5KB\n"
                           "\ndomain (other.org)\n + mailbox <big>, size: 3.0GB\n"
                           "\n");

    std::string log = onlyLog();
    EXPECT_EQ(log.rfind(header(store.path()), 0), 0u);
    EXPECT_NE(log.find("Info: read default domain (example.com) path: \"" + store.path() + "/Accounts\"\n"),
              std::string::npos);
    EXPECT_NE(log.find("Info: read domain (other.org) path: \"" + store.path() + "/Domains/other.org\"\n"),
              std::string::npos);
    EXPECT_NE(log.find(" Info: read mailbox <ann>"), std::string::npos);
    EXPECT_TRUE(std::regex_search(log, std::regex("\n \\+ mailbox <ann>, size: 1\\.5KB, time: "
                                                  "\\w{3} \\w{3} [ 0-9]\\d \\d\\d:\\d\\d:\\d\\d \\d{4}\n")));
    EXPECT_NE(log.find("\ndomain (other.org)\n"), std::string::npos);
    EXPECT_TRUE(log.ends_with("\n + mailbox <big>, size: 3.0GB, time: " + log.substr(log.rfind("time: ") + 6)));
    EXPECT_TRUE(log.ends_with("\n\n"));
    EXPECT_EQ(log.find("Start time"), std::string::npos);
    EXPECT_EQ(log.find("Result"), std::string::npos);
    // Print mode provisions nothing, so no password report.
    EXPECT_TRUE(filesMatching(work.path(), "tarmig_", ".pass").empty());
}

TEST_F(PrintRun, LogIsNamedAfterTheStartAndPrivate) {
    builder.addMacnt("", "ann", settings("", ""), infoText("10", {}));
    runTool({"-path", store.path(), "-primaryDomain", "example.com"}, work.path());
    auto logs = filesMatching(work.path(), "tarmig_", ".log");
    ASSERT_EQ(logs.size(), 1u);
    std::string name = logs[0].substr(logs[0].rfind('/') + 1);
    EXPECT_TRUE(std::regex_match(name, std::regex("tarmig_\\d{4}-\\d\\d-\\d\\d_\\d\\d-\\d\\d-\\d\\d\\.log"))) << name;
    struct stat info {};
    ASSERT_EQ(stat(logs[0].c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST_F(PrintRun, UnreadableAccountIsReportedAndTheWalkGoesOn) {
    builder.addMacnt("", "ann", settings("", ""), infoText("0", {}));
    std::string bad = builder.addMacnt("", "bad", settings("", ""), infoText("0", {}));
    std::remove((bad + "/account.settings").c_str());
    builder.addMacnt("other.org", "joe", settings("", ""), infoText("2048", {}));
    auto run = runTool({"-path", store.path(), "-primaryDomain", "example.com"}, work.path());

    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.out.find("Error: cannot print mailbox <bad>\n"), std::string::npos);
    EXPECT_NE(run.out.find(" + mailbox <ann>, size: 0B\n"), std::string::npos);
    EXPECT_NE(run.out.find("\ndomain (other.org)\n + mailbox <joe>, size: 2.0KB\n"), std::string::npos);
    std::string log = onlyLog();
    EXPECT_NE(log.find("Error: cannot parse settings file: "), std::string::npos);
    EXPECT_NE(log.find("Error: cannot print mailbox <bad>\n"), std::string::npos);
}

TEST_F(PrintRun, AccountWithoutInfoIsListedAsZero) {
    std::string joe = builder.addMacnt("", "joe", settings("", ""), infoText("99", {}));
    std::remove((joe + "/account.info").c_str());
    auto run = runTool({"-path", store.path(), "-primaryDomain", "example.com"}, work.path());
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.out.find(" + mailbox <joe>, size: 0B\n"), std::string::npos);
}

TEST_F(PrintRun, MissingAccountsDirectoryIsReportedAndOtherDomainsListed) {
    builder.addMacnt("other.org", "joe", settings("", ""), infoText("1", {}));
    auto run = runTool({"-path", store.path(), "-primaryDomain", "example.com"}, work.path());
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_NE(run.out.find("Error: default domain not found, wrong path or corrupted CommuniGate store\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("\ndomain (other.org)\n + mailbox <joe>, size: 1B\n"), std::string::npos);
    EXPECT_EQ(run.out.find("domain (example.com)"), std::string::npos);
}

TEST_F(PrintRun, MasksSelectDomainsAndAccounts) {
    builder.addMacnt("", "ann", settings("", ""), infoText("1", {}));
    builder.addMacnt("other.org", "anna", settings("", ""), infoText("1", {}));
    builder.addMacnt("other.org", "joe", settings("", ""), infoText("1", {}));
    // The primary domain does not match, so its missing directory is no error either.
    auto run = runTool({"-path", store.path(), "-primaryDomain", "example.com", "-domain", "OTHER.*", "-user", "AN*"},
                       work.path());
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, header(store.path()) + "\ndomain (other.org)\n + mailbox <anna>, size: 1B\n\n");

    auto none = runTool({"-path", store.path(), "-primaryDomain", "example.com", "-domain", "nothing"}, work.path());
    EXPECT_EQ(none.exitStatus, 0);
    EXPECT_EQ(none.out, header(store.path()) + "\n");
}

TEST_F(PrintRun, QuietWritesOnlyTheLog) {
    builder.addMacnt("", "ann", settings("", ""), infoText("1", {}));
    auto run = runTool({"-path", store.path(), "-primaryDomain", "example.com", "-quiet"}, work.path());
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    EXPECT_NE(onlyLog().find("\n + mailbox <ann>, size: 1B, time: "), std::string::npos);
}

TEST_F(PrintRun, UnusableWorkingDirectorySendsEverythingToStandardError) {
    builder.addMacnt("", "ann", settings("", ""), infoText("1", {}));
    std::string gone = work.path() + "/gone";
    makeDirs(gone);
    auto run = runTool({"-path", store.path(), "-primaryDomain", "example.com"}, gone, true);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind(header(store.path()), 0), 0u);
    EXPECT_NE(run.err.find("Info: read default domain (example.com)"), std::string::npos);
    EXPECT_NE(run.err.find("\n + mailbox <ann>, size: 1B, time: "), std::string::npos);
}

TEST_F(PrintRun, HostNameStandsInForAMissingPrimaryDomain) {
    builder.addMacnt("", "ann", settings("", ""), infoText("1", {}));
    auto run = runTool({"-path", store.path()}, work.path());
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_NE(run.out.find(" + mailbox <ann>, size: 1B\n"), std::string::npos);
    EXPECT_EQ(run.out.find("domain ()"), std::string::npos);
}

}  // namespace
