#include <gtest/gtest.h>

#include <string>

#include "migrator/Shard.h"

namespace {

using tarmig::Shard;

TEST(Shard, HashIsSixtyFourBitFnv1a) {
    // Published test vectors of FNV-1a, 64 bits.
    EXPECT_EQ(tarmig::fnv1a64(""), 0xcbf29ce484222325ULL);
    EXPECT_EQ(tarmig::fnv1a64("a"), 0xaf63dc4c8601ec8cULL);
    EXPECT_EQ(tarmig::fnv1a64("foobar"), 0x85944171f73967e8ULL);
    EXPECT_EQ(tarmig::fnv1a64(std::string("\0", 1)), 0xaf63bd4c8601b7dfULL);
}

TEST(Shard, PartIsHashOfLowerCasedAddressModCountPlusOne) {
    const std::uint64_t hash = tarmig::fnv1a64("ann@example.com");
    for (unsigned count : {2u, 3u, 7u, 1000u}) {
        const unsigned part = static_cast<unsigned>(hash % count) + 1;
        for (unsigned index = 1; index <= count; ++index) {
            const Shard shard{index, count};
            EXPECT_EQ(shard.contains("ann", "example.com"), index == part) << index << "/" << count;
            EXPECT_EQ(shard.contains("ANN", "Example.COM"), index == part) << index << "/" << count;
        }
    }
    // Bytes beyond ASCII are taken as they are.
    EXPECT_EQ(Shard({1, 5}).contains("\xc3\x84nn", "x.org"),
              tarmig::fnv1a64("\xc3\x84nn@x.org") % 5 == 0);
    EXPECT_TRUE(Shard().contains("anyone", "anywhere"));
}

TEST(Shard, ValueIsKOfNWithKFromOneToN) {
    Shard shard;
    ASSERT_TRUE(tarmig::parseShard("3/4", shard));
    EXPECT_EQ(shard.index, 3u);
    EXPECT_EQ(shard.count, 4u);
    ASSERT_TRUE(tarmig::parseShard("1/1", shard));
    EXPECT_EQ(shard.count, 1u);
    ASSERT_TRUE(tarmig::parseShard("07/100", shard));
    EXPECT_EQ(shard.index, 7u);
    for (const char* bad : {"0/4", "5/4", "2", "1/0", "0/0", "", "/", "1/", "/4", "a/4", "1/b", "1/4x", " 1/4",
                            "1 /4", "+1/4", "-1/4", "1/-4", "1/4/5", "1.0/4", "1/99999999999999999999"}) {
        Shard untouched{2, 9};
        EXPECT_FALSE(tarmig::parseShard(bad, untouched)) << bad;
        EXPECT_EQ(untouched.index, 2u) << bad;
    }
}

}  // namespace
