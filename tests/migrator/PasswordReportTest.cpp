#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

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

}  // namespace
