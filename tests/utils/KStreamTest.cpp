#include <gtest/gtest.h>

#include <string>

#include "support/StoreBuilder.h"
#include "utils/KFile.h"
#include "utils/KMemoryStream.h"

using zenqa::utils::KFile;
using zenqa::utils::KMemoryStream;
using zenqa::utils::KStream;
using namespace tarmig::testing;

TEST(KStream, PushBackOfTwoBytesAndStickyEnd) {
    KMemoryStream stream("ab");
    int a = stream.get();
    int b = stream.get();
    EXPECT_EQ(KStream::EndOfInput, stream.get());
    stream.unget(KStream::EndOfInput);
    stream.unget(b);
    stream.unget(a);
    EXPECT_EQ('a', stream.get());
    EXPECT_EQ('b', stream.get());
    EXPECT_EQ(KStream::EndOfInput, stream.get());
    EXPECT_EQ(KStream::EndOfInput, stream.get());
}

TEST(KStream, BytesAboveSevenBitAreNotNegative) {
    KMemoryStream stream(std::string("\xFF\x80\0", 3));
    EXPECT_EQ(0xFF, stream.get());
    EXPECT_EQ(0x80, stream.get());
    EXPECT_EQ(0, stream.get());
    EXPECT_EQ(KStream::EndOfInput, stream.get());
}

TEST(KFile, ReadsEveryByteAcrossBlocksWithPushBackAtTheSeams) {
    TempDir tmp;
    std::string bytes;
    for (std::size_t i = 0; i < 3 * KFile::BlockSize + 17; ++i) bytes += static_cast<char>(i * 7 % 256);
    writeFile(tmp.path() + "/f", bytes);
    KFile file;
    ASSERT_TRUE(file.open(tmp.path() + "/f"));
    std::string read;
    for (int c; (c = file.get()) != KStream::EndOfInput;) {
        read += static_cast<char>(c);
        // Push back across the block seam and read again.
        if (read.size() % KFile::BlockSize == 0) {
            int next = file.get();
            file.unget(next);
            file.unget(c);
            EXPECT_EQ(c, file.get());
        }
    }
    EXPECT_EQ(bytes, read);
}

TEST(KFile, EmptyFileIsAtItsEnd) {
    TempDir tmp;
    writeFile(tmp.path() + "/empty", "");
    KFile file;
    ASSERT_TRUE(file.open(tmp.path() + "/empty"));
    EXPECT_EQ(KStream::EndOfInput, file.get());
}
