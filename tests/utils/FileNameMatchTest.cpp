#include "utils/FileNameMatch.h"

#include <gtest/gtest.h>

using zenqa::utils::fileNameMatch;

TEST(FileNameMatch, WildcardsFoldCaseAndMatchWholeName) {
    EXPECT_TRUE(fileNameMatch("*", "", true));
    EXPECT_TRUE(fileNameMatch("ann*", "ANN", true));
    EXPECT_TRUE(fileNameMatch("ann*", "anna", true));
    EXPECT_FALSE(fileNameMatch("ann*", "joe", true));
    EXPECT_FALSE(fileNameMatch("ann*", "ANN", false));
    EXPECT_TRUE(fileNameMatch("a?c", "abc", true));
    EXPECT_FALSE(fileNameMatch("a?c", "ac", true));
    EXPECT_FALSE(fileNameMatch("ann", "anna", true));
}

TEST(FileNameMatch, BracketSetsNegateWithBangOrCaret) {
    EXPECT_TRUE(fileNameMatch("[a-c]x", "Bx", true));
    EXPECT_FALSE(fileNameMatch("[!a-c]x", "bx", true));
    EXPECT_FALSE(fileNameMatch("[^a-c]x", "bx", true));
    EXPECT_TRUE(fileNameMatch("[^a-c]x", "dx", true));
}

TEST(FileNameMatch, BackslashSlashAndLeadingDotAreOrdinary) {
    EXPECT_TRUE(fileNameMatch("a\\*", "a\\bc", true));
    EXPECT_FALSE(fileNameMatch("a\\?", "a?", true));
    EXPECT_TRUE(fileNameMatch("*", "a/b", true));
    EXPECT_TRUE(fileNameMatch("*", ".hidden", true));
    EXPECT_TRUE(fileNameMatch("d*", "dom/x", true));
}
