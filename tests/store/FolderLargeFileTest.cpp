#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>

#include "store/Folder.h"
#include "store/Message.h"
#include "support/StoreBuilder.h"

using namespace tarmig;
using namespace tarmig::testing;

namespace {

void writeAt(int fd, std::int64_t offset, const std::string& bytes) {
    ASSERT_EQ(static_cast<ssize_t>(bytes.size()), pwrite(fd, bytes.data(), bytes.size(), offset));
}

}  // namespace

// A sparse .mbox file whose second message lies beyond the 2 GiB mark.
TEST(FolderLargeFile, MessagesBeyondTwoGigabytes) {
    TempDir tmp;
    std::string path = tmp.path() + "/Big.mbox";
    MboxMessage first;
    first.uid = "1";
    MboxMessage second;
    second.uid = "2";
    second.flags = "S";
    const std::int64_t secondLine = (std::int64_t{1} << 31) + 4096;
    const std::string secondData = "Subject: far\n\nbeyond\n";
    {
        int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        writeAt(fd, 0, separatorLine(first) + "\nstart of a long message\n");
        writeAt(fd, secondLine - 2, "\r\n" + separatorLine(second) + "\n" + secondData);
        ::close(fd);
    }

    std::ostringstream output;
    Folder folder(output);
    folder.initialize("Big", tmp.path(), MailboxMacnt);
    folder.openMessagesFile("ann");
    Message message(folder);

    ASSERT_TRUE(folder.getFirstMessage(message, true));
    std::int64_t firstOffset = separatorLine(first).size() + 1;
    EXPECT_EQ(firstOffset, message.getOffset());
    EXPECT_EQ(secondLine - 2 - firstOffset, message.getSize());
    std::string part;
    ASSERT_TRUE(message.getFirstDataPart(part));
    EXPECT_EQ(0u, part.rfind("start of a long message\r\n", 0));

    ASSERT_TRUE(folder.getNextMessage(message, true));
    std::int64_t secondOffset = secondLine + separatorLine(second).size() + 1;
    EXPECT_EQ("2", message.getUid());
    EXPECT_EQ(secondOffset, message.getOffset());
    EXPECT_EQ(static_cast<std::int64_t>(secondData.size()), message.getSize());
    EXPECT_EQ(static_cast<std::int64_t>(secondData.size()) + 3, message.getFixedSize());
    ASSERT_TRUE(message.getFirstDataPart(part));
    EXPECT_EQ("Subject: far\r\n\r\nbeyond\r\n", part);
    EXPECT_FALSE(message.getNextDataPart(part));
    EXPECT_FALSE(folder.getNextMessage(message, true));
    folder.closeMessagesFile();

    EXPECT_NE(std::string::npos, output.str().find("    Info: read message, local uid: 2 offset: " +
                                                    std::to_string(secondOffset) + " size: " +
                                                    std::to_string(secondData.size()) + " "));
}
