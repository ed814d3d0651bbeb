#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

#include "migrator/AccountJob.h"

namespace {

TEST(ReplaceForbiddenChars, EveryForbiddenCharacterBecomesTheReplacement) {
    std::string name = "a<b>c:d*e?f\"g|h\\i/j";
    tarmig::replaceForbiddenChars(name, '_');
    EXPECT_EQ(name, "a_b_c_d_e_f_g_h_i/j");

    std::string runs = "::??Sent/Items**";
    tarmig::replaceForbiddenChars(runs, '_');
    EXPECT_EQ(runs, "____Sent/Items__");

    std::string clean = "Projects/2004 Q1/Ä";
    tarmig::replaceForbiddenChars(clean, '_');
    EXPECT_EQ(clean, "Projects/2004 Q1/Ä");
}

TEST(GeneratePassword, LengthAndAlphabet) {
    EXPECT_EQ(tarmig::AccountJob::generatePassword(0), "");
    EXPECT_EQ(tarmig::AccountJob::generatePassword(-3), "");
    for (int i = 0; i < 50; ++i) {
        std::string password = tarmig::AccountJob::generatePassword(6);
        ASSERT_EQ(password.size(), 6u);
        for (char c : password) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c))) << password;
    }
}

TEST(GeneratePassword, DrawsEvenlyFromAllLettersAndDigits) {
    std::map<char, int> counts;
    const int draws = 62 * 400;
    for (char c : tarmig::AccountJob::generatePassword(draws)) ++counts[c];
    // Every one of the 62 characters occurs, including z, Z and 9.
    ASSERT_EQ(counts.size(), 62u);
    EXPECT_GT(counts['z'], 0);
    EXPECT_GT(counts['Z'], 0);
    EXPECT_GT(counts['9'], 0);
    // Expected 400 each; a modulo bias or a missing class would push some far off.
    for (const auto& [c, n] : counts) {
        EXPECT_GT(n, 250) << c;
        EXPECT_LT(n, 560) << c;
    }
}

TEST(GeneratePassword, PasswordsInTheSameSecondDiffer) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) seen.insert(tarmig::AccountJob::generatePassword(6));
    EXPECT_EQ(seen.size(), 200u);
}

}  // namespace
