#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <sstream>

#include "ErrorText.h"
#include "MessageReading.h"
#include "store/CGException.h"
#include "store/MboxScanner.h"
#include "store/StoreProblem.h"
#include "support/StoreBuilder.h"

using namespace tarmig;
using namespace tarmig::testing;

namespace {

class FolderMbox : public AccountFolder {
protected:
    std::vector<ReadMessage> read(const std::string& mboxBytes, bool fixLineEnds = true) {
        store.addMboxFolder(account, "Mail", mboxBytes);
        return readFolder("Mail", account, MailboxMacnt, "ann", fixLineEnds);
    }
};

MboxMessage mboxMessage(const std::string& data, const std::string& uid, const std::string& flags = "") {
    MboxMessage m;
    m.data = data;
    m.uid = uid;
    m.flags = flags;
    return m;
}

}  // namespace

TEST_F(FolderMbox, MessagesWithOffsetsSizesAndLogLines) {
    MboxMessage first = mboxMessage("Subject: a\r\n\r\nhello\r\n", "7", "AS");
    MboxMessage second = mboxMessage("Subject: b\n\nbye", "8", "");
    second.timestamp = "Fri Feb 20 12:34:56 2004";
    std::string bytes = mboxText({first, second});

    auto messages = read(bytes);
    ASSERT_EQ(2u, messages.size());
    std::int64_t offset1 = separatorLine(first).size() + 1;
    std::int64_t offset2 = offset1 + first.data.size() + 2 + separatorLine(second).size() + 1;
    EXPECT_EQ(offset1, messages[0].offset);
    EXPECT_EQ(static_cast<std::int64_t>(first.data.size()), messages[0].size);
    EXPECT_EQ(first.data, messages[0].data);
    EXPECT_EQ("7", messages[0].uid);
    EXPECT_EQ(offset2, messages[1].offset);
    EXPECT_EQ("Subject: b\r\n\r\nbye", messages[1].data);
    EXPECT_EQ(static_cast<std::int64_t>(messages[1].data.size()), messages[1].fixedSize);

    EXPECT_EQ("    Info: read message, local uid: 7 offset: " + std::to_string(offset1) + " size: " +
                  std::to_string(first.data.size()) +
                  " date: \"20-Feb-2004 12:34:56 +0000\" flags: (\\Seen \\Answered )\n"
                  "    Info: read message, local uid: 8 offset: " +
                  std::to_string(offset2) + " size: " + std::to_string(second.data.size()) +
                  " date: \"20-Feb-2004 12:34:56 +0000\" flags: ()\n",
              output.str());
}

TEST_F(FolderMbox, FixingOffKeepsBytesAsStored) {
    std::string data = "a\nb\r\nc\rd\n";
    auto messages = read(mboxText({mboxMessage(data, "1")}), false);
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(data, messages[0].data);
    EXPECT_EQ(static_cast<std::int64_t>(data.size()), messages[0].fixedSize);
}

TEST_F(FolderMbox, NoSeparatorGivesNoMessage) {
    EXPECT_TRUE(read("just text\nFrom someone else\n From <a>(S-1) x\n").empty());
    EXPECT_TRUE(read("").empty());
    EXPECT_EQ("", output.str());
}

TEST_F(FolderMbox, OnlySeparatorLinesEndAMessage) {
    // Quoted "From <" lines and separators in a broken form are message text,
    // whatever follows them.
    const std::string quoted = "Hi,\nFrom <joe@example.com> wrote:\r\n> From <a>(S-1)\nFrom <bad>(S 2) x\n"
                               "From <a>(S-3)\nFrom <\nbye\n";
    std::string bytes = mboxText({mboxMessage(quoted, "1"), mboxMessage("two", "2")});
    auto messages = read(bytes, false);
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(quoted, messages[0].data);
    EXPECT_EQ("two", messages[1].data);
    EXPECT_EQ("2", messages[1].uid);
    EXPECT_EQ(std::string::npos, output.str().find("Error"));

    // The two bytes before a real separator still belong to neither message.
    messages = read(separatorLine(mboxMessage("", "1")) + "\nFrom <q> said\nx\n" + separatorLine(mboxMessage("", "2")) +
                        "\n",
                    false);
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ("From <q> said\n", messages[0].data);
    EXPECT_EQ("", messages[1].data);
}

TEST_F(FolderMbox, LeadingBytesThatAreNotWhiteSpaceAreAProblem) {
    struct Case {
        std::string leading;
        bool problem;
    };
    const Case cases[] = {{"", false}, {"\r\n \t\n", false}, {"preamble\r\n", true}, {"\n\nFrom <x> text\n", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.leading));
        auto messages = read(c.leading + mboxText({mboxMessage("body\n", "3")}));
        ASSERT_EQ(1u, messages.size());
        EXPECT_EQ("body\r\n", messages[0].data);
        std::vector<StoreProblem> problems = folder.takeProblems();
        if (!c.problem) {
            EXPECT_TRUE(problems.empty());
            continue;
        }
        ASSERT_EQ(1u, problems.size());
        EXPECT_EQ("Warning: " + std::to_string(c.leading.size()) + " bytes of \"" + account +
                      "/Mail.mbox\" before its first message separator were not migrated\n",
                  problems[0].line);
        EXPECT_EQ(StoreProblem::LostBytes, problems[0].loss);
    }

    // A file of text without any separator: all of it.
    EXPECT_TRUE(read("just text\nFrom someone\n").empty());
    std::vector<StoreProblem> problems = folder.takeProblems();
    ASSERT_EQ(1u, problems.size());
    EXPECT_NE(std::string::npos, problems[0].line.find("Warning: 23 bytes of \""));

    // Reading the folder again from its start does not report it twice.
    store.addMboxFolder(account, "Mail", "junk\n" + mboxText({mboxMessage("x", "1")}));
    open("Mail");
    Message message(folder);
    ASSERT_TRUE(folder.getFirstMessage(message, true));
    ASSERT_TRUE(folder.getFirstMessage(message, true));
    EXPECT_EQ(1u, folder.takeProblems().size());
    folder.closeMessagesFile();
}

// The store ends each message with CR LF before the next separator; the
// reader leaves those two bytes out. A file with bare LF line ends gives up
// the message's last character there instead, which must not go unsaid.
TEST_F(FolderMbox, ALastByteGivenUpBeforeASeparatorIsAProblemUnlessItIsALineEnd) {
    const std::string second = separatorLine(mboxMessage("", "2")) + "\n" + "two\n";
    struct Case {
        std::string first;  // the first message's bytes up to the next separator line
        bool problem;
    };
    const Case cases[] = {{"body\r\n", false}, {"body\n\n", false}, {"body\n", true}, {"\n", false}, {"x\n", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.first));
        const std::string head = separatorLine(mboxMessage("", "1")) + "\n";
        auto messages = read(head + c.first + second, false);
        ASSERT_EQ(2u, messages.size());
        std::vector<StoreProblem> problems = folder.takeProblems();
        if (!c.problem) {
            EXPECT_TRUE(problems.empty()) << problems[0].line;
            continue;
        }
        ASSERT_EQ(1u, problems.size());
        const std::size_t offset = head.size() + c.first.size() - 2;
        EXPECT_EQ("Warning: 1 byte of \"" + account + "/Mail.mbox\" at offset " + std::to_string(offset) +
                      ", the last before a message separator's line feed, was not migrated\n",
                  problems[0].line);
        EXPECT_EQ(StoreProblem::LostBytes, problems[0].loss);
    }
    // A separator right after another leaves nothing to give up.
    EXPECT_EQ(2u, read(separatorLine(mboxMessage("", "1")) + "\n" + second).size());
    EXPECT_TRUE(folder.takeProblems().empty());
}

TEST_F(FolderMbox, SeparatorsDataAndTheBytesBetweenGiveBackTheFile) {
    const std::string bytes = " \n" + separatorLine(mboxMessage("", "1")) + "\r\nFrom <q> wrote:\nx\r\n" +
                              separatorLine(mboxMessage("", "2")) + "\nab\n" + separatorLine(mboxMessage("", "3")) +
                              "\n\n\n" + separatorLine(mboxMessage("", "4"));
    store.addMboxFolder(account, "Mail", bytes);
    open("Mail");
    Message message(folder);
    std::string rebuilt;
    std::int64_t end = 0;
    int count = 0;
    for (bool more = folder.getFirstMessage(message, false); more; more = folder.getNextMessage(message, false)) {
        // Leading bytes, or the bytes the message before left out.
        ASSERT_LE(end, message.getSeparatorOffset());
        rebuilt += bytes.substr(end, message.getSeparatorOffset() - end);
        rebuilt += message.getSeparatorLine();
        rebuilt += streamData(message);
        end = message.getOffset() + message.getSize();
        ++count;
    }
    EXPECT_EQ(4, count);
    EXPECT_EQ(bytes, rebuilt);
    folder.closeMessagesFile();
}

TEST_F(FolderMbox, SeparatorRightAfterSeparatorGivesEmptyMessage) {
    std::string bytes = separatorLine(mboxMessage("", "1")) + "\n" + separatorLine(mboxMessage("", "2")) + "\nx\n";
    auto messages = read(bytes);
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(0, messages[0].size);
    EXPECT_EQ(0, messages[0].fixedSize);
    EXPECT_TRUE(messages[0].partSizes.empty());
    EXPECT_EQ("2", messages[1].uid);
    EXPECT_EQ("x\r\n", messages[1].data);

    // One byte of text before the next separator is too short for the CR LF pair.
    messages = read(separatorLine(mboxMessage("", "1")) + "\n\n" + separatorLine(mboxMessage("", "2")) + "\n");
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(0, messages[0].size);
    EXPECT_EQ(0, messages[1].size);
}

TEST_F(FolderMbox, LastLineWithoutLineEndBelongsToTheMessage) {
    auto messages = read(mboxText({mboxMessage("a\nlast", "1")}));
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ("a\r\nlast", messages[0].data);

    // A separator as the very last line, without LF, gives an empty message at the end.
    messages = read(separatorLine(mboxMessage("", "5")));
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ("5", messages[0].uid);
    EXPECT_EQ(0, messages[0].size);
}

TEST_F(FolderMbox, EndStaysTheEnd) {
    store.addMboxFolder(account, "Mail", mboxText({mboxMessage("x", "1")}));
    open("Mail");
    Message message(folder);
    ASSERT_TRUE(folder.getFirstMessage(message, true));
    EXPECT_FALSE(folder.getNextMessage(message, true));
    EXPECT_FALSE(folder.getNextMessage(message, true));
    // Starting again reads the file from its beginning.
    ASSERT_TRUE(folder.getFirstMessage(message, true));
    EXPECT_EQ("x", streamData(message));
    folder.closeMessagesFile();
    folder.closeMessagesFile();
    EXPECT_FALSE(folder.getNextMessage(message, true));
}

TEST_F(FolderMbox, ReadingDataBetweenMessagesKeepsTheEnumerationInPlace) {
    std::string big(200000, 'x');
    store.addMboxFolder(account, "Mail",
                        mboxText({mboxMessage(big, "1"), mboxMessage("two", "2"), mboxMessage("three", "3")}));
    open("Mail");
    Message message(folder);
    ASSERT_TRUE(folder.getFirstMessage(message, true));
    EXPECT_EQ(big, streamData(message));
    ASSERT_TRUE(folder.getNextMessage(message, true));
    std::string part;
    ASSERT_TRUE(message.getFirstDataPart(part));  // read only part of the message
    ASSERT_TRUE(folder.getNextMessage(message, true));
    EXPECT_EQ("3", message.getUid());
    EXPECT_EQ("three", streamData(message));
    EXPECT_FALSE(folder.getNextMessage(message, true));
    folder.closeMessagesFile();
}

TEST_F(FolderMbox, FixedSizeAgreesWithTheDataWhateverPrecedesTheNextSeparator) {
    // Of the two bytes before a separator only the LF is fixed; the other byte
    // may be anything, and neither belongs to the message nor counts in its size.
    MboxMessage next = mboxMessage("", "2");
    for (std::string data : {"", "a", "\n", "\r", "a\n", "a\r", "\r\n", "\n\n", "a\r\n\n", "\nb\r"}) {
        for (char beforeLf : {'x', '\r', '\n'}) {
            for (bool fixLineEnds : {true, false}) {
                std::string bytes = separatorLine(mboxMessage("", "1")) + "\n" + data + beforeLf + "\n" +
                                    separatorLine(next) + "\n" + data;
                auto messages = read(bytes, fixLineEnds);
                std::string expected = fixLineEnds ? fixedWhole(data) : data;
                std::string label = ::testing::PrintToString(data) + " then " + ::testing::PrintToString(beforeLf);
                ASSERT_EQ(2u, messages.size()) << label;
                for (const ReadMessage& message : messages) {
                    EXPECT_EQ(expected, message.data) << label;
                    EXPECT_EQ(static_cast<std::int64_t>(expected.size()), message.fixedSize) << label;
                }
            }
        }
    }
}

TEST_F(FolderMbox, MessagesAcrossScanBlocksReadWhole) {
    // Sizes around and beyond a scan block and a part, so that messages start,
    // end and straddle block edges, with CR LF pairs split at the edges.
    std::vector<MboxMessage> stored;
    std::size_t total = 0;
    for (int i = 0; total < 3 * MboxScanner::blockSize; ++i) {
        std::string data;
        std::size_t size = i % 5 == 0 ? 300001 + 7 * i : 2000 + 131 * i;
        for (int line = 0; data.size() < size; ++line) data += line % 4 == 0 ? "\r\n" : line % 4 == 1 ? "\n" : "text\r";
        if (i % 2) data += "\r";
        total += data.size();
        stored.push_back(mboxMessage(data, std::to_string(i + 1)));
    }
    store.addMboxFolder(account, "Mail", mboxText(stored));
    for (bool fixLineEnds : {true, false}) {
        auto messages = readFolder("Mail", account, MailboxMacnt, "ann", fixLineEnds);
        ASSERT_EQ(stored.size(), messages.size());
        for (std::size_t i = 0; i < stored.size(); ++i) {
            std::string expected = fixLineEnds ? fixedWhole(stored[i].data) : stored[i].data;
            // Compared as a whole: a diff of such long texts would not fit in memory.
            ASSERT_TRUE(expected == messages[i].data) << "message " << i + 1;
            ASSERT_EQ(static_cast<std::int64_t>(expected.size()), messages[i].fixedSize) << "message " << i + 1;
        }
    }

    // A message read in turns with enumerating past the scan block and with
    // reading a later message still gets its own bytes.
    open("Mail");
    Message first(folder);
    Message later(folder);
    ASSERT_TRUE(folder.getFirstMessage(first, true));
    std::size_t index = 0;
    auto enumerateBeyond = [&](std::size_t blocks) {
        while (later.getOffset() < static_cast<std::int64_t>(blocks * MboxScanner::blockSize)) {
            ASSERT_TRUE(folder.getNextMessage(later, true));
            ++index;
        }
    };
    enumerateBeyond(1);
    std::string data;
    std::string part;
    ASSERT_TRUE(first.getFirstDataPart(part));
    data += part;
    enumerateBeyond(2);
    while (first.getNextDataPart(part)) {
        data += part;
        ASSERT_TRUE(fixedWhole(stored[index].data) == streamData(later)) << "message " << index + 1;
    }
    EXPECT_TRUE(fixedWhole(stored[0].data) == data);
    folder.closeMessagesFile();
}

TEST_F(FolderMbox, RandomFilesComeBackWholeFromLeadingBytesSeparatorsAndData) {
    const std::string pieces[] = {"\n", "\r\n", "\r", " ", "x", "From <", ">(", "S-1) ", "From <q> wrote:\n",
                                  "From <a>(S-1) x\n", "From <a>(-22) 20-02-2004_12:34:56_\r\n", "From <a>(S 1) x\n"};
    std::mt19937 random(29);
    for (int round = 0; round < 200; ++round) {
        std::string bytes;
        for (int n = std::uniform_int_distribution<int>(0, 30)(random); n > 0; --n) {
            bytes += pieces[std::uniform_int_distribution<std::size_t>(0, std::size(pieces) - 1)(random)];
        }
        SCOPED_TRACE(::testing::PrintToString(bytes));
        store.addMboxFolder(account, "Mail", bytes);
        open("Mail");
        Message message(folder);
        std::string rebuilt;
        std::int64_t end = 0;
        bool first = true;
        for (bool more = folder.getFirstMessage(message, false); more; more = folder.getNextMessage(message, false)) {
            // Before the first separator any bytes; between messages at most the two of the rule.
            const std::int64_t gap = message.getSeparatorOffset() - end;
            ASSERT_TRUE(gap >= 0 && (first || gap <= 2)) << gap;
            rebuilt += bytes.substr(end, gap);
            if (first) {
                bool blank = rebuilt.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
                std::size_t leading = 0;
                for (const StoreProblem& problem : folder.takeProblems())
                    leading += problem.line.find("before its first message separator") != std::string::npos;
                EXPECT_EQ(blank ? 0u : 1u, leading);
            }
            first = false;
            const std::string& separator = message.getSeparatorLine();
            EXPECT_EQ(separator, bytes.substr(message.getSeparatorOffset(), separator.size()));
            std::string data = streamData(message);
            EXPECT_EQ(message.getSize(), static_cast<std::int64_t>(data.size()));
            rebuilt += message.getSeparatorLine() + data;
            end = message.getOffset() + message.getSize();
        }
        if (first) {
            rebuilt = bytes;  // no message: the whole file is leading bytes
            bool blank = bytes.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
            EXPECT_EQ(blank ? 0u : 1u, folder.takeProblems().size());
        }
        EXPECT_EQ(bytes, rebuilt);
        folder.closeMessagesFile();
    }
}

TEST_F(FolderMbox, HugeLineInsideAMessageIsStreamedThrough) {
    // Far more than one scan block and one kept line: message text, however it looks.
    std::string huge = "From <" + std::string(3 << 20, 'h') + ">(S-9) x\n";
    std::string bytes = mboxText({mboxMessage("a\n" + huge, "1"), mboxMessage("b", "2")});
    auto messages = read(bytes, false);
    ASSERT_EQ(2u, messages.size());
    EXPECT_TRUE("a\n" + huge == messages[0].data);
    EXPECT_EQ("b", messages[1].data);
}

TEST_F(FolderMbox, MissingFileIsAStoreError) {
    folder.initialize("Gone/Deeper", account, MailboxMacnt);
    std::string path = account + "/Gone.folder/Deeper.mbox";
    EXPECT_EQ("cannot read messages file \"" + path + "\"",
              errorText<CGStoreException>([&] { folder.openMessagesFile("ann"); }));
    EXPECT_EQ("Error: cannot read messages file \"" + path + "\"\n", output.str());
    EXPECT_EQ(nullptr, folder.getFileStream());
    Message message(folder);
    EXPECT_FALSE(folder.getFirstMessage(message, true));
}

TEST_F(FolderMbox, StorageReachedThroughALinkIsRefused) {
    // Not even a link to a file the process may read is followed.
    std::string outside = tmp.path() + "/outside";
    writeFile(outside, mboxText({mboxMessage("secret", "1")}));
    ASSERT_EQ(0, symlink(outside.c_str(), (account + "/Mail.mbox").c_str()));
    makeDirs(tmp.path() + "/elsewhere");
    writeFile(tmp.path() + "/elsewhere/Sub.mbox", mboxText({mboxMessage("secret", "1")}));
    ASSERT_EQ(0, symlink((tmp.path() + "/elsewhere").c_str(), (account + "/Linked.folder").c_str()));
    const std::pair<std::string, std::string> cases[] = {{"Mail", "/Mail.mbox"}, {"Linked/Sub", "/Linked.folder"}};
    for (const auto& [name, link] : cases) {
        output.str("");
        folder.initialize(name, account, MailboxMacnt);
        EXPECT_TRUE(folder.storageExists("ann"));
        std::string text = "cannot read folder \"" + name + "\": \"" + account + link + "\" is a symbolic link";
        EXPECT_EQ(text, errorText<CGStoreException>([&] { folder.openMessagesFile("ann"); }));
        EXPECT_EQ("Error: " + text + "\n", output.str());
        EXPECT_EQ(nullptr, folder.getFileStream());
    }
}

TEST_F(FolderMbox, OnlyRegularFilesAreOpened) {
    // A directory cannot be read as messages, and a FIFO without a writer must
    // not block the open.
    makeDirs(account + "/Dir.mbox");
    ASSERT_EQ(0, mkfifo((account + "/Fifo.mbox").c_str(), 0600));
    for (std::string name : {"Dir", "Fifo"}) {
        output.str("");
        folder.initialize(name, account, MailboxMacnt);
        std::string text = "cannot read messages file \"" + account + "/" + name + ".mbox\"";
        EXPECT_EQ(text, errorText<CGStoreException>([&] { folder.openMessagesFile("ann"); }));
        EXPECT_EQ("Error: " + text + "\n", output.str());
        EXPECT_EQ(nullptr, folder.getFileStream());
    }
}

TEST_F(FolderMbox, NamesWithSpacesAndHighBytes) {
    std::string name = "Sent Items/\xC3\xA9t\xE9 2004";
    store.addMboxFolder(account, name, mboxText({mboxMessage("x", "1")}));
    open(name);
    EXPECT_EQ(1u, readAll(folder, true).size());
    folder.closeMessagesFile();
}

TEST_F(FolderMbox, CopiesStartClosedAndMovesKeepTheFileOpen) {
    store.addMboxFolder(account, "Mail", mboxText({mboxMessage("one", "1"), mboxMessage("two", "2")}));
    std::vector<Folder> folders;
    folders.emplace_back(output);
    folders[0].initialize("Mail", account, MailboxMacnt);
    folders[0].setClass("IPF.Task");
    folders[0].openMessagesFile("ann");

    Folder copy = folders[0];
    EXPECT_EQ(nullptr, copy.getFileStream());
    EXPECT_EQ("Mail", copy.getName());
    EXPECT_EQ("IPF.Task", copy.getClass());

    {
        Message message(folders[0]);
        ASSERT_TRUE(folders[0].getFirstMessage(message, true));
    }
    for (int i = 0; i < 50; ++i) folders.push_back(copy);  // reallocates
    Message message(folders[0]);
    ASSERT_TRUE(folders[0].getNextMessage(message, true));
    EXPECT_EQ("two", streamData(message));
    folders[0].closeMessagesFile();
}
