#include <gtest/gtest.h>

#include <sys/stat.h>

#include <sstream>
#include <string>

#include "driver/MasterPassword.h"
#include "support/StoreBuilder.h"

namespace {

using tarmig::readPasswordFile;
using tarmig::testing::TempDir;
using tarmig::testing::writeFile;

std::string passwordFile(const TempDir& dir, const std::string& bytes, mode_t mode) {
    const std::string path = dir.path() + "/master";
    writeFile(path, bytes);
    chmod(path.c_str(), mode);
    return path;
}

TEST(MasterPassword, FirstLineWithoutItsLineEnd) {
    for (auto [text, expected] : {std::pair{"s3cret\n", "s3cret"}, {"s3cret\r\nsecond\n", "s3cret"},
                                  {"s3cret", "s3cret"}, {" spaced out \n", " spaced out "}, {"\n", ""},
                                  {"a\rb\r\r\n", "a\rb\r"}}) {
        std::istringstream in(text);
        EXPECT_EQ(tarmig::firstLine(in), expected) << text;
    }
}

TEST(MasterPassword, FileOfItsOwnerOnlyGivesItsFirstLine) {
    TempDir dir;
    for (mode_t mode : {0600, 0400, 0700}) {
        std::string error;
        EXPECT_EQ(readPasswordFile(passwordFile(dir, "master secret\r\nnext line\n", mode), error), "master secret");
        EXPECT_EQ(error, "") << mode;
    }
}

TEST(MasterPassword, FileOpenToGroupOrOthersIsRefusedWithItsMode) {
    TempDir dir;
    for (auto [mode, text] : {std::pair{0644, "0644"}, {0640, "0640"}, {0604, "0604"}, {0610, "0610"},
                              {0602, "0602"}, {0601, "0601"}, {0620, "0620"}}) {
        const std::string path = passwordFile(dir, "master\n", static_cast<mode_t>(mode));
        std::string error;
        EXPECT_EQ(readPasswordFile(path, error), "");
        EXPECT_EQ(error, "Argument error: password file \"" + path + "\" has mode " + text +
                             ", it must not be readable by group or others");
    }
}

TEST(MasterPassword, FileThatCannotBeReadOrHoldsNoPasswordIsAnArgumentError) {
    TempDir dir;
    std::string error;
    EXPECT_EQ(readPasswordFile(dir.path() + "/missing", error), "");
    EXPECT_EQ(error, "Argument error: password file \"" + dir.path() + "/missing\" cannot be read: "
                     "No such file or directory");

    const std::string directory = dir.path() + "/folder";
    tarmig::testing::makeDirs(directory);
    chmod(directory.c_str(), 0700);
    error.clear();
    EXPECT_EQ(readPasswordFile(directory, error), "");
    EXPECT_EQ(error, "Argument error: password file \"" + directory + "\" cannot be read: Is a directory");

    for (const char* empty : {"", "\n", "\r\nmaster\n"}) {
        const std::string path = passwordFile(dir, empty, 0600);
        error.clear();
        EXPECT_EQ(readPasswordFile(path, error), "");
        EXPECT_EQ(error, "Argument error: password file \"" + path + "\" holds no password on its first line");
    }
}

TEST(MasterPassword, OneSourceOnly) {
    TempDir dir;
    tarmig::RunOptions options;
    options.password = "inline";
    std::string error;
    EXPECT_EQ(tarmig::masterPassword(options, error), "inline");
    EXPECT_EQ(error, "");
    options.passwordFile = passwordFile(dir, "from file\n", 0600);
    EXPECT_EQ(tarmig::masterPassword(options, error), "");
    EXPECT_EQ(error, "Argument error: give the master password by -password or by -passwordFile, not both");
    options.password.clear();
    error.clear();
    EXPECT_EQ(tarmig::masterPassword(options, error), "from file");
    EXPECT_EQ(error, "");
}

}  // namespace
