#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "migrator/PasswordReport.h"
#include "support/StoreBuilder.h"

namespace {

using tarmig::PasswordReport;
using tarmig::testing::readFile;
using tarmig::testing::TempDir;
using tarmig::testing::writeFile;

unsigned modeOf(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
}

TEST(PasswordReport, CreatedOwnerOnlyOnFirstUseAndEachLineIsInTheFileAtOnce) {
    TempDir dir;
    const std::string path = dir.path() + "/run.pass";
    {
        PasswordReport report;
        report.setPath(path);
        EXPECT_NE(access(path.c_str(), F_OK), 0);  // nothing before it is used
        EXPECT_EQ(report.open(), "");
        EXPECT_EQ(readFile(path), "");
        EXPECT_EQ(modeOf(path), 0600u);
        EXPECT_EQ(report.add("<ann@example.com>, password: \"pw\"\n"), "");
        // Read while the report is still open: nothing waits in a buffer.
        EXPECT_EQ(readFile(path), "<ann@example.com>, password: \"pw\"\n");
    }
    // A run that starts in the same second appends, and an open mode is narrowed.
    chmod(path.c_str(), 0644);
    PasswordReport again;
    again.setPath(path);
    EXPECT_EQ(again.add("<bob@example.com> already exist, hold current password\n"), "");
    EXPECT_EQ(readFile(path),
              "<ann@example.com>, password: \"pw\"\n<bob@example.com> already exist, hold current password\n");
    EXPECT_EQ(modeOf(path), 0600u);
}

TEST(PasswordReport, SaysWhyItCannotBeWritten) {
    TempDir dir;
    PasswordReport unset;
    EXPECT_EQ(unset.add("x\n"), "no file given");
    PasswordReport missingDirectory;
    missingDirectory.setPath(dir.path() + "/gone/run.pass");
    EXPECT_EQ(missingDirectory.open(), "No such file or directory");
    // A link planted where the report goes is not followed.
    writeFile(dir.path() + "/elsewhere", "");
    ASSERT_EQ(symlink((dir.path() + "/elsewhere").c_str(), (dir.path() + "/run.pass").c_str()), 0);
    PasswordReport planted;
    planted.setPath(dir.path() + "/run.pass");
    EXPECT_NE(planted.add("<ann@example.com>, password: \"pw\"\n"), "");
    EXPECT_EQ(readFile(dir.path() + "/elsewhere"), "");
}

TEST(PasswordReport, LineWrittenAheadIsOnDiskBeforeTheAnswerAndStaysUnlessTakenBack) {
    TempDir dir;
    const std::string path = dir.path() + "/run.pass";
    PasswordReport report;
    report.setPath(path);
    const std::string ann = "<ann@example.com>, password: \"pw\"\n";
    const std::string bob = "<bob@example.com>, password: \"x7Kp2a\" (generated)\n";
    const std::string cyd = "<cyd@example.com>, password: \"Q9zz1b\" (generated)\n";
    ASSERT_EQ(report.add(ann), "");
    {
        PasswordReport::Ahead ahead = report.addAhead(bob);
        EXPECT_EQ(ahead.why(), "");
        EXPECT_EQ(readFile(path), ann + bob);
        ahead.keep();
    }
    {
        PasswordReport::Ahead dropped = report.addAhead(cyd);  // an answer that never came: kept
    }
    EXPECT_EQ(report.add("<dan@example.com> already exist, hold current password\n"), "");
    EXPECT_EQ(readFile(path), ann + bob + cyd + "<dan@example.com> already exist, hold current password\n");
    EXPECT_FALSE(report.failed());
}

TEST(PasswordReport, LineTakenBackLeavesTheFileAsItWasAndTheNextLineTakesItsPlace) {
    TempDir dir;
    const std::string path = dir.path() + "/run.pass";
    writeFile(path, "<ann@example.com>, password: \"pw\"\n");  // a run earlier in the same second
    PasswordReport report;
    report.setPath(path);
    PasswordReport::Ahead ahead = report.addAhead("<bob@example.com>, password: \"x7Kp2a\" (generated)\n");
    ASSERT_EQ(ahead.why(), "");
    EXPECT_EQ(ahead.takeBack(), "");
    EXPECT_EQ(readFile(path), "<ann@example.com>, password: \"pw\"\n");
    EXPECT_EQ(ahead.takeBack(), "");  // once only: nothing more is cut
    EXPECT_EQ(report.add("<bob@example.com> already exist, hold current password\n"), "");
    EXPECT_EQ(readFile(path),
              "<ann@example.com>, password: \"pw\"\n<bob@example.com> already exist, hold current password\n");
}

TEST(PasswordReport, OtherWritersWaitUntilTheLineWrittenAheadIsSettled) {
    TempDir dir;
    const std::string path = dir.path() + "/run.pass";
    const std::string bob = "<bob@example.com>, password: \"x7Kp2a\" (generated)\n";
    PasswordReport report, otherRun;
    report.setPath(path);
    otherRun.setPath(path);  // another run started in the same second
    ASSERT_EQ(report.open(), "");
    ASSERT_EQ(otherRun.open(), "");
    PasswordReport::Ahead ahead = report.addAhead(bob);
    ASSERT_EQ(ahead.why(), "");
    std::thread sameRun([&] { EXPECT_EQ(report.add("<ann@example.com>, password: \"pw\"\n"), ""); });
    std::thread secondRun([&] { EXPECT_EQ(otherRun.add("<cyd@example.com>, password: \"pw\"\n"), ""); });
    // Time enough for a writer that does not wait to have written.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(readFile(path), bob);
    EXPECT_EQ(ahead.takeBack(), "");
    sameRun.join();
    secondRun.join();
    const std::string after = readFile(path);
    EXPECT_TRUE(after == "<ann@example.com>, password: \"pw\"\n<cyd@example.com>, password: \"pw\"\n" ||
                after == "<cyd@example.com>, password: \"pw\"\n<ann@example.com>, password: \"pw\"\n")
        << after;
}

TEST(PasswordReport, LineThatCannotBeWrittenAheadHoldsNothing) {
    TempDir dir;
    PasswordReport report;
    report.setPath(dir.path() + "/gone/run.pass");
    PasswordReport::Ahead ahead = report.addAhead("<bob@example.com>, password: \"x7Kp2a\" (generated)\n");
    EXPECT_EQ(ahead.why(), "No such file or directory");
    EXPECT_TRUE(report.failed());
    EXPECT_EQ(ahead.takeBack(), "");
    EXPECT_EQ(report.add("x\n"), "No such file or directory");  // not blocked by the failed line
}

}  // namespace
