#include "utils/Crypto.h"

#include <gtest/gtest.h>

namespace {

using namespace zenqa::crypto;

TEST(CryptoTest, Md5MatchesRfc1321) {
    EXPECT_EQ(md5Hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5Hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5Hex(std::string("\0\xff", 2)), md5Hex(std::string("\0\xff", 2)));
    EXPECT_NE(md5Hex(std::string("\0a", 2)), md5Hex("a"));
}

TEST(CryptoTest, HmacMd5MatchesRfc2104) {
    EXPECT_EQ(hmacMd5Hex(std::string(16, '\x0b'), "Hi There"), "9294727a3638bb1c13f48ef8158bfc9d");
    EXPECT_EQ(hmacMd5Hex("Jefe", "what do ya want for nothing?"),
              "750c783e6ab0b503eaa86e310a5db738");
    // RFC 2202: a key longer than the block is hashed first.
    EXPECT_EQ(hmacMd5Hex(std::string(80, '\xaa'),
                         "Test Using Larger Than Block-Size Key - Hash Key First"),
              "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
}

TEST(CryptoTest, Base64) {
    EXPECT_EQ(base64Encode(""), "");
    EXPECT_EQ(base64Encode("f"), "Zg==");
    EXPECT_EQ(base64Encode("fo"), "Zm8=");
    EXPECT_EQ(base64Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64Encode(std::string(100, 'x')).find('\n'), std::string::npos);

    EXPECT_EQ(base64Decode("Zg=="), "f");
    EXPECT_EQ(base64Decode(" Zm9v\r\nYmFy\r\n"), "foobar");
    EXPECT_EQ(base64Decode("Zm8="), "fo");
    EXPECT_EQ(base64Decode(base64Encode(std::string("\0\x01\xfe\xff", 4))),
              std::string("\0\x01\xfe\xff", 4));
    EXPECT_EQ(base64Decode(""), "");
}

}  // namespace
