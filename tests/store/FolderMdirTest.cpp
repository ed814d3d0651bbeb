#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>

#include "ErrorText.h"
#include "MessageReading.h"
#include "store/CGException.h"
#include "store/StoreProblem.h"
#include "support/StoreBuilder.h"

using namespace tarmig;
using namespace tarmig::testing;

namespace {

class FolderMdir : public AccountFolder {};

std::vector<std::string> sortedData(const std::vector<ReadMessage>& messages) {
    std::vector<std::string> data;
    for (const auto& m : messages) data.push_back(m.data);
    std::sort(data.begin(), data.end());
    return data;
}

}  // namespace

TEST_F(FolderMdir, EachRegularFileIsAMessage) {
    std::string dir = store.addMdirFolder(account, "Mail");
    store.addMdirMessage(dir, "SA", "20040220123456", "one\n");
    store.addMdirMessage(dir, "", "20050305010203", "two\r\n");
    makeDirs(dir + "/subdir");
    writeFile(dir + "/subdir/3-S-20040220123456-x", "nested");
    ASSERT_EQ(0, symlink("1-SA-20040220123456-x", (dir + "/9-S-20040220123456-link").c_str()));
    ASSERT_EQ(0, symlink("/nonexistent", (dir + "/8-S-20040220123456-dangling").c_str()));

    auto messages = readFolder("Mail", account, MailboxMacnt);
    EXPECT_EQ(MailboxMdir, folder.getStorageType());
    ASSERT_EQ(2u, messages.size());
    for (const auto& m : messages) {
        if (m.data == "one\r\n") {
            EXPECT_EQ("\\Seen \\Answered ", m.flags);
            EXPECT_EQ("20-Feb-2004 12:34:56 +0000", m.date);
            EXPECT_EQ(4, m.size);
            EXPECT_EQ(5, m.fixedSize);
            EXPECT_EQ(0, m.offset);
        } else {
            EXPECT_EQ("two\r\n", m.data);
            EXPECT_EQ("", m.flags);
            EXPECT_EQ("05-Mar-2005 01:02:03 +0000", m.date);
        }
    }
    std::string log = output.str();
    EXPECT_NE(std::string::npos, log.find("    Info: read message, filename: 1-SA-20040220123456-x\n"));
    EXPECT_NE(std::string::npos, log.find("    Info: read message, filename: 2--20050305010203-x\n"));
    EXPECT_EQ(std::string::npos, log.find("link"));
    EXPECT_EQ(std::string::npos, log.find("Warning"));

    // The other entries are not followed; each is a message that is lost.
    std::vector<StoreProblem> problems = folder.takeProblems();
    ASSERT_EQ(3u, problems.size());
    for (const auto& [problem, entry] : {std::pair{problems[0], "8-S-20040220123456-dangling"},
                                         std::pair{problems[1], "9-S-20040220123456-link"},
                                         std::pair{problems[2], "subdir"}}) {
        EXPECT_EQ("Error: cannot read message \"" + dir + "/" + entry + "\": not a regular file\n", problem.line);
        EXPECT_EQ(StoreProblem::LostMessage, problem.loss);
    }
}

TEST_F(FolderMdir, MessagesInTheOrderOfTheirNumbers) {
    std::string dir = store.addMdirFolder(account, "Mail");
    // Created in an order no file system keeps by chance.
    const char* names[] = {"10-S-20040220123456-x", "9-S-20040220123456-x", "z", "0012-S-20040220123456-x",
                           "11-S-20040220123456-x", "100000000000000000000-x", "-1-x", "a-1", "99999999999999999999-x",
                           "1-", "011-x", "B"};
    for (const char* name : names) writeFile(dir + "/" + name, name);
    auto messages = readFolder("Mail", account, MailboxMacnt, "ann", false);
    std::vector<std::string> order;
    for (const auto& m : messages) order.push_back(m.data);
    EXPECT_EQ((std::vector<std::string>{"1-", "9-S-20040220123456-x", "10-S-20040220123456-x", "011-x",
                                        "11-S-20040220123456-x", "0012-S-20040220123456-x", "99999999999999999999-x",
                                        "100000000000000000000-x", "-1-x", "B", "a-1", "z"}),
              order);
}

TEST_F(FolderMdir, NamesWithoutDashesGiveNoFlagsNoDateAndAWarning) {
    std::string dir = store.addMdirFolder(account, "Mail");
    writeFile(dir + "/plain name \xE9", "body");
    auto messages = readFolder("Mail", account, MailboxMacnt);
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ("", messages[0].flags);
    EXPECT_EQ("", messages[0].date);
    EXPECT_EQ("body", messages[0].data);
    EXPECT_EQ("    Info: read message, filename: plain name \xE9\nWarning: cannot parse timestamp.\n", output.str());
}

TEST_F(FolderMdir, EmptyMessageFileGivesNoData) {
    std::string dir = store.addMdirFolder(account, "Mail");
    store.addMdirMessage(dir, "S", "20040220123456", "");
    auto messages = readFolder("Mail", account, MailboxMacnt);
    ASSERT_EQ(1u, messages.size());
    EXPECT_EQ(0, messages[0].size);
    EXPECT_EQ(0, messages[0].fixedSize);
    EXPECT_TRUE(messages[0].partSizes.empty());
}

TEST_F(FolderMdir, UidIsLeftAsItWas) {
    std::string dir = store.addMdirFolder(account, "Mail");
    store.addMdirMessage(dir, "S", "20040220123456", "x");
    open("Mail");
    Message message(folder);
    message.setUid("77");
    ASSERT_TRUE(folder.getFirstMessage(message, true));
    EXPECT_EQ("77", message.getUid());
    EXPECT_FALSE(folder.getNextMessage(message, true));
    EXPECT_FALSE(folder.getNextMessage(message, true));
    folder.closeMessagesFile();
}

TEST_F(FolderMdir, MissingOrUnreadableDirectoryIsAStoreError) {
    std::string mdirAccount = store.addMdirAccount("", "bob", "{}\n", "{}\n");
    folder.initialize("Other", mdirAccount, MailboxMdir);
    EXPECT_FALSE(folder.storageExists("bob"));
    folder.openMessagesFile("bob");
    Message message(folder);
    std::string text = "cannot read message directory \"" + mdirAccount + "/Other.mdir\"";
    EXPECT_EQ(text, errorText<CGStoreException>([&] { folder.getFirstMessage(message, true); }));
    EXPECT_EQ("Error: " + text + "\n", output.str());
    folder.closeMessagesFile();
}

TEST_F(FolderMdir, MessageFileThatCannotBeOpenedIsAProblemAndTheFolderGoesOn) {
    std::string dir = store.addMdirFolder(account, "Mail");
    std::string path = store.addMdirMessage(dir, "S", "20040220123456", "x");
    store.addMdirMessage(dir, "S", "20040220123456", "second");
    open("Mail");
    Message message(folder);

    EXPECT_TRUE(withUnreadableFile(tmp, path, [&] {
        bool read = folder.getFirstMessage(message, false) && streamData(message) == "second";
        std::vector<StoreProblem> problems = folder.takeProblems();
        return read && problems.size() == 1 &&
               problems[0].line == "Error: cannot read messages file \"" + path + "\"\n" &&
               problems[0].loss == StoreProblem::LostMessage && !folder.getNextMessage(message, true);
    }));
    folder.closeMessagesFile();
}

TEST_F(FolderMdir, TruncatedFileEndsTheDataEarlyAndTheSizesAgree) {
    std::string dir = store.addMdirFolder(account, "Mail");
    std::string path = store.addMdirMessage(dir, "", "20040220123456", std::string(100000, '\n'));
    for (bool fix : {true, false}) {
        writeFile(path, std::string(100000, '\n'));
        open("Mail");
        Message message(folder);
        ASSERT_TRUE(folder.getFirstMessage(message, fix));
        ASSERT_EQ(0, truncate(path.c_str(), 70000));
        std::int64_t fixedSize = message.getFixedSize();
        std::string data = streamData(message);
        EXPECT_EQ(100000, message.getSize());
        EXPECT_EQ(static_cast<std::int64_t>(data.size()), fixedSize) << fix;
        EXPECT_EQ(fix ? 140000u : 70000u, data.size());
        folder.closeMessagesFile();
    }
}

TEST_F(FolderMdir, FixedSizeIsReadOnceAndForgottenAtTheNextMessage) {
    std::string dir = store.addMdirFolder(account, "Mail");
    std::string path = store.addMdirMessage(dir, "", "20040220123456", "a\nb\n");
    open("Mail");
    Message message(folder);
    ASSERT_TRUE(folder.getFirstMessage(message, true));
    EXPECT_EQ(6, message.getFixedSize());
    ASSERT_EQ(0, truncate(path.c_str(), 1));
    EXPECT_EQ(6, message.getFixedSize());
    message.initialize(0, 4, true);
    EXPECT_EQ(1, message.getFixedSize());
    folder.closeMessagesFile();
}

class FolderStorage : public FolderMdir {};

TEST_F(FolderStorage, SubfolderOfMacntAccountAsMboxOrMdir) {
    store.addMboxFolder(account, "Mail/Old", mboxText({MboxMessage{"from mbox", "", "1"}}));
    auto messages = readFolder("Mail/Old", account, MailboxMacnt);
    EXPECT_EQ(MailboxMacnt, folder.getStorageType());
    EXPECT_EQ(std::vector<std::string>{"from mbox"}, sortedData(messages));

    std::string dir = store.addMdirFolder(account, "Mail/Old");
    EXPECT_EQ(account + "/Mail.folder/Old.mdir", dir);
    store.addMdirMessage(dir, "", "20040220123456", "from mdir");
    Folder fresh(output);
    fresh.initialize("Mail/Old", account, MailboxMacnt);
    fresh.openMessagesFile("ann");
    EXPECT_EQ(MailboxMdir, fresh.getStorageType());
    EXPECT_EQ(std::vector<std::string>{"from mdir"}, sortedData(readAll(fresh, true)));
    fresh.closeMessagesFile();
    // The file beside the directory is not read, and that is said.
    std::vector<StoreProblem> problems = fresh.takeProblems();
    ASSERT_EQ(1u, problems.size());
    EXPECT_EQ("Error: \"" + account + "/Mail.folder/Old.mbox\" is not migrated: folder \"Mail/Old\" is read from its "
              ".mdir directory\n",
              problems[0].line);
}

TEST_F(FolderStorage, InboxOfMacntAccountMayBeAnMdir) {
    std::string dir = store.addMdirFolder(account, "INBOX");
    store.addMdirMessage(dir, "", "20040220123456", "inbox");
    EXPECT_EQ(std::vector<std::string>{"inbox"}, sortedData(readFolder("INBOX", account, MailboxMacnt)));
}

TEST_F(FolderStorage, InboxOfSingleFileAccountIsNamedAfterTheAccount) {
    std::string domainDir = store.addMboxAccount("example.com", "carl", "{}\n", "{}\n",
                                                 mboxText({MboxMessage{"carl's", "", "1"}}));
    EXPECT_EQ(std::vector<std::string>{"carl's"},
              sortedData(readFolder("INBOX", domainDir, MailboxMbox, "carl")));
}

TEST_F(FolderStorage, InboxOfMdirAccountIsTheAccountDirectory) {
    std::string mdirAccount = store.addMdirAccount("", "dora", "{}\n", "{}\n");
    store.addMdirMessage(mdirAccount, "S", "20040220123456", "dora's");
    EXPECT_EQ(std::vector<std::string>{"dora's"},
              sortedData(readFolder("INBOX", mdirAccount, MailboxMdir, "dora")));
    // Other folders of such an account lie inside it.
    std::string sub = mdirAccount + "/Sent.mdir";
    makeDirs(sub);
    writeFile(sub + "/1-S-20040220123456-x", "sent");
    EXPECT_EQ(std::vector<std::string>{"sent"}, sortedData(readFolder("Sent", mdirAccount, MailboxMdir, "dora")));
}

// A folder is read from inside its own account or not at all.
TEST_F(FolderStorage, FoldersThatWouldReadOutsideTheAccountAreRefused) {
    std::string domainDir =
        store.addMboxAccount("", "carl", "{}\n", "{}\n", mboxText({MboxMessage{"carl's", "", "1"}}));
    store.addMboxAccount("", "bob", "{Password = secret;}\n", "{}\n", mboxText({MboxMessage{"bob's", "", "1"}}));
    struct Case {
        std::string name, printed, accountDir;
        MailboxType type;
    };
    const Case cases[] = {
        // A NUL byte cuts the path: "<account>/.." would list the domain directory.
        {std::string("..\0", 3), "..\\x00", account, MailboxMacnt},
        {std::string("x/..\0/y", 7), "x/..\\x00/y", account, MailboxMacnt},
        // A single-file account has only its inbox; any other name is another account's file.
        {"bob", "bob", domainDir, MailboxMbox},
        {"Other", "Other", domainDir, MailboxMbox},
    };
    Message message(folder);
    for (const auto& c : cases) {
        output.str("");
        folder.initialize(c.name, c.accountDir, c.type);
        EXPECT_FALSE(folder.storageExists("carl")) << c.printed;
        std::string text = "cannot read folder \"" + c.printed + "\": its storage would lie outside the account";
        EXPECT_EQ(text, errorText<CGStoreException>([&] { folder.openMessagesFile("carl"); }));
        EXPECT_EQ("Error: " + text + "\n", output.str());
        EXPECT_FALSE(folder.getFirstMessage(message, true)) << c.printed;
        folder.closeMessagesFile();
    }

    // Dots and slashes cannot climb out: every level gets its own suffix.
    for (const std::string name : {"../x", "/etc/passwd", ".."}) {
        store.addMboxFolder(account, name, mboxText({MboxMessage{"inside " + name, "", "1"}}));
        EXPECT_EQ(std::vector<std::string>{"inside " + name}, sortedData(readFolder(name, account, MailboxMacnt)));
    }
}

TEST_F(FolderStorage, StorageIsLookedForWhereTheFolderWouldBeRead) {
    auto exists = [&](const std::string& name, const std::string& accountDir, MailboxType type,
                      const std::string& accountName) {
        folder.initialize(name, accountDir, type);
        return folder.storageExists(accountName);
    };
    EXPECT_FALSE(exists("Mail/Old", account, MailboxMacnt, "ann"));
    store.addMboxFolder(account, "Mail/Old", "");
    EXPECT_TRUE(exists("Mail/Old", account, MailboxMacnt, "ann"));
    store.addMdirFolder(account, "Sent");
    EXPECT_TRUE(exists("Sent", account, MailboxMacnt, "ann"));
    // A dangling link is storage too, to be refused rather than taken for none.
    ASSERT_EQ(0, symlink("/nonexistent", (account + "/Dangling.mbox").c_str()));
    EXPECT_TRUE(exists("Dangling", account, MailboxMacnt, "ann"));

    std::string domainDir = store.addMboxAccount("", "carl", "{}\n", "{}\n", "");
    EXPECT_TRUE(exists("INBOX", domainDir, MailboxMbox, "carl"));
    EXPECT_FALSE(exists("INBOX", domainDir, MailboxMbox, "dora"));
    std::string mdirAccount = store.addMdirAccount("", "dora", "{}\n", "{}\n");
    EXPECT_TRUE(exists("INBOX", mdirAccount, MailboxMdir, "dora"));
    EXPECT_FALSE(exists("Sent", mdirAccount, MailboxMdir, "dora"));
}
