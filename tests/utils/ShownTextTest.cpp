#include "utils/ShownText.h"

#include <gtest/gtest.h>

#include <string>

using zenqa::utils::shownText;

TEST(ShownText, EveryControlByteBecomesAVisibleEscape) {
    EXPECT_EQ(shownText("x\nResult: migration successful"), "x\\nResult: migration successful");
    EXPECT_EQ(shownText("a\r\nb\tc"), "a\\r\\nb\\tc");
    EXPECT_EQ(shownText(std::string("n\0l", 3)), "n\\x00l");
    EXPECT_EQ(shownText("\x1b[2Jwiped"), "\\x1b[2Jwiped");
    EXPECT_EQ(shownText("\x7f\x1f\x01\x0b\x0c\b"), "\\x7f\\x1f\\x01\\x0b\\x0c\\x08");
    for (int byte = 0; byte < 0x20; ++byte) {
        const std::string shown = shownText(std::string(1, static_cast<char>(byte)));
        EXPECT_TRUE(shown.size() >= 2 && shown[0] == '\\') << byte;
        for (char c : shown) EXPECT_TRUE(c >= 0x20 && c < 0x7f) << byte;
    }
}

TEST(ShownText, TextWithoutControlBytesIsUnchanged) {
    EXPECT_EQ(shownText(""), "");
    EXPECT_EQ(shownText("Sent Items/2004 <x@y> \"q\" *?"), "Sent Items/2004 <x@y> \"q\" *?");
    // Backslashes stay as they always showed; a second pass changes nothing.
    EXPECT_EQ(shownText("c:\\CommuniGate Files\\n"), "c:\\CommuniGate Files\\n");
    EXPECT_EQ(shownText(shownText("a\nb\\x")), "a\\nb\\x");
}

TEST(ShownText, BytesAboveAsciiStaySoUtf8NamesShowAsTheyAre) {
    EXPECT_EQ(shownText("Entw\xc3\xbcrfe \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80"),
              "Entw\xc3\xbcrfe \xe6\x97\xa5\xe6\x9c\xac \xf0\x9f\x98\x80");
    EXPECT_EQ(shownText("\x80\xff\xc2\x85"), "\x80\xff\xc2\x85") << "C1 controls are not control bytes of a line";
}
