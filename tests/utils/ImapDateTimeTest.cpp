#include "utils/ImapDateTime.h"

#include <gtest/gtest.h>

using zenqa::mail::parseImapDateTime;

TEST(ParseImapDateTime, FormsAndZones) {
    EXPECT_EQ(parseImapDateTime("20-Feb-2004 12:34:56 +0000"), 1077280496);
    EXPECT_EQ(parseImapDateTime("20-FEB-2004 14:34:56 +0200"), 1077280496);
    EXPECT_EQ(parseImapDateTime("20-feb-2004 11:04:56 -0130"), 1077280496);
    EXPECT_EQ(parseImapDateTime(" 5-Mar-2004 01:02:03 +0000"), 1078448523);
    EXPECT_EQ(parseImapDateTime("5-Mar-2004 01:02:03 +0000"), 1078448523);
    EXPECT_EQ(parseImapDateTime("05-Mar-2004 01:02:03 +0000"), 1078448523);
    EXPECT_EQ(parseImapDateTime("01-Jan-1970 00:00:00 +0000"), 0);
    EXPECT_EQ(parseImapDateTime("31-Dec-1969 23:59:59 +0000"), -1);
    EXPECT_EQ(parseImapDateTime("29-Feb-2000 00:00:00 +0000"), 951782400);
    // The store allows day 31 in any month; it runs on into the next month.
    EXPECT_EQ(parseImapDateTime("31-Feb-2004 00:00:00 +0000"), parseImapDateTime("02-Mar-2004 00:00:00 +0000"));
}

TEST(ParseImapDateTime, AnythingElseIsNoDate) {
    for (const char* bad : {"", "20-Feb-2004 12:34:56", "20-Feb-2004 12:34:56 0000", "20-Foo-2004 12:34:56 +0000",
                            "32-Feb-2004 12:34:56 +0000", "00-Feb-2004 12:34:56 +0000", "20-Feb-2004 24:00:00 +0000",
                            "20-Feb-2004 12:60:00 +0000", "20-Feb-2004 12:34:56 +0060", "20-Feb-04 12:34:56 +0000",
                            "20-Feb-2004  12:34:56 +0000", "2x-Feb-2004 12:34:56 +0000", "\"20-Feb-2004 12:34:56 +0000\""})
        EXPECT_FALSE(parseImapDateTime(bad)) << bad;
}
