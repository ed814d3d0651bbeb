#include "utils/HeaderField.h"

#include <gtest/gtest.h>

using zenqa::mail::headerEnd;
using zenqa::mail::headerFieldValue;

TEST(HeaderFieldValue, FirstFieldUnfoldedAndTrimmedInAnyLetterCase) {
    EXPECT_EQ(headerFieldValue("Subject: x\r\nMessage-ID: <a@b>\r\n\r\n", "Message-ID"), "<a@b>");
    EXPECT_EQ(headerFieldValue("message-id:<a@b>  \r\n", "Message-ID"), "<a@b>");
    EXPECT_EQ(headerFieldValue("Message-ID:\r\n <a@b>\r\n\t x\r\nTo: y\r\n", "Message-ID"), "<a@b>\t x")
        << "the line ends go; blanks inside the value stay";
    EXPECT_EQ(headerFieldValue("Message-ID: <1@x>\r\nMESSAGE-ID: <2@x>\r\n", "Message-ID"), "<1@x>");
    EXPECT_EQ(headerFieldValue("Message-ID \t: <old@x>\n", "Message-ID"), "<old@x>");
    EXPECT_EQ(headerFieldValue("Message-ID:\r\n", "Message-ID"), "");
    EXPECT_EQ(headerFieldValue("Message-ID: <no line end@x>", "Message-ID"), "<no line end@x>");
    EXPECT_EQ(headerFieldValue("Message-ID: <bare@x>\nSubject: y\n", "Message-ID"), "<bare@x>");
}

TEST(HeaderFieldValue, OnlyFieldsOfTheHeaderCount) {
    EXPECT_FALSE(headerFieldValue("Subject: x\r\n\r\nMessage-ID: <body@x>\r\n", "Message-ID"));
    EXPECT_FALSE(headerFieldValue("\r\nMessage-ID: <body@x>\r\n", "Message-ID"));
    EXPECT_FALSE(headerFieldValue("X-Message-ID: <a@b>\r\nMessage-IDs: <c@d>\r\n", "Message-ID"));
    EXPECT_FALSE(headerFieldValue("Subject: x\r\n Message-ID: <folded@x>\r\n", "Message-ID"))
        << "a continuation line does not start a field";
    EXPECT_FALSE(headerFieldValue("", "Message-ID"));
}

TEST(HeaderEnd, AfterTheFirstEmptyLine) {
    EXPECT_EQ(headerEnd("A: b\r\n\r\nbody"), 8u);
    EXPECT_EQ(headerEnd("A: b\n\nbody"), 6u);
    EXPECT_EQ(headerEnd("\r\nbody"), 2u);
    EXPECT_EQ(headerEnd("A: b\r\n \r\n"), std::string_view::npos) << "a blank continuation is no empty line";
    EXPECT_EQ(headerEnd("A: b\r\nC: d\r\n"), std::string_view::npos);
    EXPECT_EQ(headerEnd("A: b\r\n\r"), std::string_view::npos) << "the empty line is not whole yet";
}
