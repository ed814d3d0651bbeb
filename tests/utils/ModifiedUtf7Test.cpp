#include "utils/ModifiedUtf7.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

using zenqa::mail::modifiedUtf7ToUtf8;
using zenqa::mail::utf8ToModifiedUtf7;

namespace {

// Pairs of a UTF-8 name and its mailbox name; each is checked both ways.
struct Pair {
    std::string utf8;
    std::string mutf7;
};

const Pair pairs[] = {
    {"INBOX", "INBOX"},
    {"", ""},
    {"Sent Items/2004 (old) ~+\\\"%*", "Sent Items/2004 (old) ~+\\\"%*"},
    // RFC 3501's example: Chinese and Japanese between ASCII levels.
    {"~peter/mail/\xe5\x8f\xb0\xe5\x8c\x97/\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
    {"Entw\xc3\xbc" "rfe", "Entw&APw-rfe"},
    {"R&D", "R&-D"},
    {"&&", "&-&-"},
    {"Zo\xc3\xab \xc3\x86r\xc3\xb8", "Zo&AOs- &AMY-r&APg-"},
    // A run ends only at printable ASCII, so the padding comes once per run.
    {"\xd0\x92\xd1\x85\xd0\xbe\xd0\xb4\xd1\x8f\xd1\x89\xd0\xb8\xd0\xb5", "&BBIERQQ+BDQETwRJBDgENQ-"},
    // Beyond the 16-bit plane: a surrogate pair, sharing the run.
    {"\xf0\x9f\x98\x80", "&2D3eAA-"},
    {"\xc3\xbc\xf0\x9f\x98\x80x", "&APzYPd4A-x"},
    // Controls are not printable ASCII: they are shifted too.
    {"a\x01" "b", "a&AAE-b"},
    {"\x7f", "&AH8-"},
    {"Work\r\nT9 NOOP", "Work&AA0ACg-T9 NOOP"},
};

TEST(ModifiedUtf7Test, EncodesAndDecodesNames) {
    for (const Pair& pair : pairs) {
        EXPECT_EQ(utf8ToModifiedUtf7(pair.utf8), std::optional<std::string>(pair.mutf7)) << pair.utf8;
        EXPECT_EQ(modifiedUtf7ToUtf8(pair.mutf7), std::optional<std::string>(pair.utf8)) << pair.mutf7;
    }
}

TEST(ModifiedUtf7Test, RefusesBytesThatAreNotUtf8) {
    const char* const invalid[] = {
        "Entw\xfc" "rfe",        // Latin-1
        "\x80",                  // stray continuation byte
        "\xc3",                  // missing continuation byte
        "\xe6\x97x",             // continuation byte missing mid-sequence
        "\xc0\xaf",              // overlong "/"
        "\xe0\x80\xaf",          // overlong "/" in three bytes
        "\xed\xa0\x80",          // a surrogate half written as UTF-8
        "\xf4\x90\x80\x80",      // above U+10FFFF
        "\xf8\x88\x80\x80\x80",  // five-byte form
        "\xff",
    };
    for (const char* name : invalid) EXPECT_EQ(utf8ToModifiedUtf7(name), std::nullopt) << name;
    // The largest and the smallest of each length pass.
    EXPECT_EQ(utf8ToModifiedUtf7("\xf4\x8f\xbf\xbf"), std::optional<std::string>("&2,,f,w-"));
    EXPECT_EQ(utf8ToModifiedUtf7("\xc2\x80\xe0\xa0\x80"), std::optional<std::string>("&AIAIAA-"));
}

TEST(ModifiedUtf7Test, RefusesNamesThatAreNotModifiedUtf7) {
    const char* const invalid[] = {
        "&APw",       // shift not closed
        "&AGE-",      // "a" must stand for itself
        "&APw=-",     // padding is not sent
        "&AP/-",      // "/" is "," in this base64
        "&APx-",      // leftover bits not zero
        "&2D0-",      // a lone high surrogate
        "&3gA-",      // a lone low surrogate
        "Entw\xc3\xbc" "rfe",  // raw 8-bit
        "a\tb",       // raw control
    };
    for (const char* name : invalid) EXPECT_EQ(modifiedUtf7ToUtf8(name), std::nullopt) << name;
}

}  // namespace
