#include "imap/NulGuardedMessage.h"
#include "TestMessage.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

using tarmig::testing::TestMessage;

TEST(NulGuardedMessage, PassesPartsAndDetailsUntilAPartHoldsNul) {
    TestMessage source({"Subject: x\r\n", std::string("a\0b", 3), "c\r\n"}, "\\Seen ", "20-Feb-2004 12:34:56 +0000");
    NulGuardedMessage guarded(source);
    EXPECT_EQ(guarded.getFlags(), "\\Seen ");
    EXPECT_EQ(guarded.getDate(), "20-Feb-2004 12:34:56 +0000");
    EXPECT_EQ(guarded.getFixedSize(), source.getFixedSize());
    EXPECT_EQ(guarded.getSize(), source.getSize());
    std::string part;
    ASSERT_TRUE(guarded.getFirstDataPart(part));
    EXPECT_EQ(part, "Subject: x\r\n");
    EXPECT_THROW(guarded.getNextDataPart(part), std::runtime_error);

    TestMessage first({std::string("\0", 1)});
    NulGuardedMessage guardedFirst(first);
    EXPECT_THROW(guardedFirst.getFirstDataPart(part), std::runtime_error);

    // 8-bit bytes and controls other than NUL are message data like any other.
    TestMessage clean({"\xff\x01\x80\r\n"});
    NulGuardedMessage guardedClean(clean);
    ASSERT_TRUE(guardedClean.getFirstDataPart(part));
    EXPECT_EQ(part, "\xff\x01\x80\r\n");
    EXPECT_FALSE(guardedClean.getNextDataPart(part));
}
