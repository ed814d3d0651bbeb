#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <iostream>
#include <sstream>

#include "migrator/AccountLine.h"
#include "migrator/Migrator.h"
#include "support/ConsoleCapture.h"

namespace {

using tarmig::testing::ConsoleCapture;

TEST(MigratorFormatSize, UnitBoundaries) {
    EXPECT_EQ(tarmig::formatSize(0), "0B");
    EXPECT_EQ(tarmig::formatSize(512), "512B");
    EXPECT_EQ(tarmig::formatSize(1023), "1023B");
    EXPECT_EQ(tarmig::formatSize(1024), "1.0KB");
    EXPECT_EQ(tarmig::formatSize(1536), "1.5KB");
    EXPECT_EQ(tarmig::formatSize(1048575), "1024.0KB");
    EXPECT_EQ(tarmig::formatSize(1048576), "1.0MB");
    EXPECT_EQ(tarmig::formatSize(1073741823), "1024.0MB");
    EXPECT_EQ(tarmig::formatSize(1073741824), "1.0GB");
}

TEST(MigratorFormatSize, AccountsBeyondTwoGigabytesKeepTheirSize) {
    EXPECT_EQ(tarmig::formatSize(std::int64_t{3} * 1073741824), "3.0GB");
    EXPECT_EQ(tarmig::formatSize(std::int64_t{INT_MAX} + 1), "2.0GB");
    EXPECT_EQ(tarmig::formatSize(std::int64_t{1536} * 1073741824), "1536.0GB");  // no larger unit
}

TEST(MigratorOutput, ItemsGoToConsoleAndLogInOrder) {
    std::ostringstream log;
    tarmig::Migrator m(log);
    ConsoleCapture console;
    m << "size: " << std::string("x") << 42 << -3 << "\n";
    EXPECT_EQ(console.text(), "size: x42-3\n");
    EXPECT_EQ(log.str(), "size: x42-3\n");
}

TEST(MigratorOutput, QuietKeepsTheLogAndSilencesTheConsole) {
    std::ostringstream loud, silent;
    tarmig::Migrator a(loud), b(silent);
    a.initialize("/s", "", 143, "", false, false, "", "", false, true);
    b.initialize("/s", "", 143, "", false, false, "", "", true, true);
    ConsoleCapture console;
    b << "Info: same\n" << 7;
    EXPECT_EQ(console.text(), "");
    a << "Info: same\n" << 7;
    EXPECT_EQ(silent.str(), loud.str());
    EXPECT_EQ(console.text(), "Info: same\n7");
}

}  // namespace
