#include "store/Mailbox.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "ErrorText.h"
#include "store/CGException.h"
#include "store/Parser.h"
#include "support/StoreBuilder.h"

using namespace tarmig;
using namespace tarmig::testing;

namespace {

const std::string goodSettings = settingsText({{"RealName", "Ann Lee"}, {"Password", "pw"}});

// A store in a temporary directory with the domain directory d of d.org, and
// one mailbox reused for its accounts.
class MailboxStore : public ::testing::Test {
protected:
    TempDir tmp;
    StoreBuilder store{tmp.path()};
    std::string d = store.domainDir("d.org");
    std::ostringstream out;
    Mailbox mailbox{out};

    // The CGStoreException message of initialize, or "" when it succeeds.
    std::string initializeError(const std::string& name, MailboxType type) {
        return errorText<CGStoreException>([&] { mailbox.initialize(name, "d.org", d, name, type); });
    }
};

}  // namespace

TEST_F(MailboxStore, LocationsByStorageType) {
    store.addMacnt("d.org", "m", goodSettings, infoText("1", {}));
    store.addMboxAccount("d.org", "ann", goodSettings, infoText("2", {}), "");
    store.addMdirAccount("d.org", "z", goodSettings, infoText("3", {}));

    mailbox.initialize("m", "d.org", d, "m", MailboxMacnt);
    EXPECT_EQ(d + "/m.macnt", mailbox.path);
    EXPECT_EQ(d + "/m.macnt/account.info", mailbox.infoPath);
    EXPECT_EQ(d + "/m.macnt/account.settings", mailbox.settingsPath);
    EXPECT_EQ("1", mailbox.size);

    mailbox.initialize("ann", "d.org", d, "ann", MailboxMbox);
    EXPECT_EQ(d, mailbox.path);
    EXPECT_EQ(d + "/ann.info", mailbox.infoPath);
    EXPECT_EQ(d + "/ann.settings", mailbox.settingsPath);
    EXPECT_EQ("2", mailbox.size);
    EXPECT_EQ(MailboxMbox, mailbox.type);

    mailbox.initialize("z", "d.org", d, "z", MailboxMdir);
    EXPECT_EQ(d + "/z.mdir", mailbox.path);
    EXPECT_EQ(d + "/z.info", mailbox.infoPath);
    EXPECT_EQ(d + "/z.settings", mailbox.settingsPath);
    EXPECT_EQ("3", mailbox.size);
    EXPECT_EQ("z", mailbox.username);
    EXPECT_EQ("d.org", mailbox.domain);
    EXPECT_EQ("Ann Lee", mailbox.fullName);
    EXPECT_EQ("", out.str());
}

TEST_F(MailboxStore, PasswordOnlyWhenStoredInClearText) {
    struct Case {
        std::map<std::string, std::string> settings;
        std::string password;
    };
    const Case cases[] = {
        {{{"Password", "p1"}}, "p1"},
        {{{"Password", "p2"}, {"PasswordEncryption", ""}}, "p2"},
        {{{"Password", "p3"}, {"PasswordEncryption", "clear"}}, "p3"},
        {{{"Password", "p4"}, {"PasswordEncryption", "Clear"}}, ""},
        {{{"Password", "p5"}, {"PasswordEncryption", "A-crpt"}}, ""},
        {{{"PasswordEncryption", "clear"}}, ""},
        {{}, ""},
    };
    for (const auto& c : cases) {
        store.addMacnt("d.org", "a", settingsText(c.settings), infoText("", {}));
        mailbox.initialize("a", "d.org", d, "a", MailboxMacnt);
        EXPECT_EQ(c.password, mailbox.password) << settingsText(c.settings);
        EXPECT_EQ("", mailbox.fullName);
        EXPECT_EQ("", mailbox.size);
    }
    EXPECT_EQ("", out.str());
}

TEST_F(MailboxStore, UnreadableInfoFileWarnsAndSizeIsUnknown) {
    std::string dir = store.addMacnt("d.org", "a", goodSettings, "{#StorageUsed = #5;");
    EXPECT_EQ("", initializeError("a", MailboxMacnt));
    EXPECT_EQ("unknown", mailbox.size);
    EXPECT_EQ("Ann Lee", mailbox.fullName);
    EXPECT_EQ("Warning: cannot parse info file: unexpected EOF in " + dir + "/account.info at line 1, byte 20\n",
              out.str());

    // Missing info file: the account is still read (its folders come from disk).
    unlink((dir + "/account.info").c_str());
    out.str("");
    EXPECT_EQ("", initializeError("a", MailboxMacnt));
    EXPECT_EQ("unknown", mailbox.size);
    EXPECT_EQ("Warning: cannot parse info file: cannot open file " + dir + "/account.info\n", out.str());

    // An info file that is a directory or a dangling link reads like a missing one.
    makeDirs(dir + "/account.info");
    out.str("");
    EXPECT_EQ("", initializeError("a", MailboxMacnt));
    EXPECT_EQ("unknown", mailbox.size);
    rmdir((dir + "/account.info").c_str());
    ASSERT_EQ(0, symlink("nowhere", (dir + "/account.info").c_str()));
    EXPECT_EQ("", initializeError("a", MailboxMacnt));
    EXPECT_EQ("unknown", mailbox.size);
}

TEST_F(MailboxStore, UnreadableSettingsFileFailsTheAccount) {
    store.addMacnt("d.org", "good", goodSettings, infoText("1", {}));
    mailbox.initialize("good", "d.org", d, "good", MailboxMacnt);

    std::string bad = store.addMacnt("d.org", "bad", "\x7F\x80{\"RealName\" = x", infoText("1", {}));
    out.str("");
    // A bare string followed by garbage is one value: it parses, with no keys.
    EXPECT_EQ("", initializeError("bad", MailboxMacnt));
    EXPECT_EQ("", mailbox.fullName);

    writeFile(bad + "/account.settings", "{RealName = \"Other\"; Password = \"x\"");
    mailbox.initialize("good", "d.org", d, "good", MailboxMacnt);
    out.str("");
    std::string eof = "cannot parse settings file: unexpected EOF in " + bad + "/account.settings at line 1, byte 36";
    EXPECT_EQ(eof, initializeError("bad", MailboxMacnt));
    EXPECT_EQ("Error: " + eof + "\n", out.str());
    EXPECT_EQ("bad", mailbox.username);
    // The failed account's values never reach the mailbox.
    EXPECT_EQ("Ann Lee", mailbox.fullName);
    EXPECT_EQ("pw", mailbox.password);

    unlink((bad + "/account.settings").c_str());
    out.str("");
    std::string missing = "cannot parse settings file: cannot open file " + bad + "/account.settings";
    EXPECT_EQ(missing, initializeError("bad", MailboxMacnt));
    EXPECT_EQ("Error: " + missing + "\n", out.str());

    makeDirs(bad + "/account.settings");
    EXPECT_EQ(missing, initializeError("bad", MailboxMacnt));
}

TEST_F(MailboxStore, FolderListFromTheInfoFileInKeyOrder) {
    store.addMacnt("d.org", "a", goodSettings,
                   "{#StorageUsed = #2048; Sent = {Class = IPF.Note; Messages = #3; Size = #1500;}; "
                   "INBOX = {Messages = #12;}; #Foo = x; Plain = text; \"\" = {Messages = #9;}; "
                   "\"Archive/2004\" = {Class = IPF.Appointment; Other = y;}; \"Archive 2\" = {}; Archive = {};}");
    mailbox.initialize("a", "d.org", d, "a", MailboxMacnt);
    EXPECT_EQ("2048", mailbox.size);

    std::vector<Folder> folders;
    out.str("");
    mailbox.getFolderList(folders);
    std::vector<std::string> names;
    for (const auto& f : folders) names.push_back(f.getName());
    EXPECT_EQ((std::vector<std::string>{"Archive", "Archive 2", "Archive/2004", "INBOX", "Plain", "Sent"}), names);

    const Folder& inbox = folders[3];
    EXPECT_EQ("IPF.Default", inbox.getClass());
    EXPECT_EQ("12", inbox.getMessageCount());
    EXPECT_EQ("", inbox.getSize());
    EXPECT_EQ(d + "/a.macnt", inbox.getAccountDirectory());
    EXPECT_EQ(MailboxMacnt, inbox.getStorageType());
    const Folder& plain = folders[4];
    EXPECT_EQ("IPF.Default", plain.getClass());
    EXPECT_EQ("0", plain.getMessageCount());
    EXPECT_EQ("", plain.getSize());
    const Folder& sent = folders[5];
    EXPECT_EQ("IPF.Note", sent.getClass());
    EXPECT_EQ("3", sent.getMessageCount());
    EXPECT_EQ("1500", sent.getSize());
    EXPECT_EQ("IPF.Appointment", folders[2].getClass());

    EXPECT_EQ("   Info: read folder \"a/Archive\" size:  messages: 0 type: IPF.Default\"\n"
              "   Info: read folder \"a/Archive 2\" size:  messages: 0 type: IPF.Default\"\n"
              "   Info: read folder \"a/Archive/2004\" size:  messages: 0 type: IPF.Appointment\"\n"
              "   Info: read folder \"a/INBOX\" size:  messages: 12 type: IPF.Default\"\n"
              "   Info: read folder \"a/Plain\" size:  messages: 0 type: IPF.Default\"\n"
              "   Info: read folder \"a/Sent\" size: 1500 messages: 3 type: IPF.Note\"\n",
              out.str());

    // Every call appends again; the vector is not cleared.
    mailbox.getFolderList(folders);
    EXPECT_EQ(12u, folders.size());
}

TEST_F(MailboxStore, FoldersOfSingleFileAndMessageDirectoryAccounts) {
    store.addMboxAccount("d.org", "ann", goodSettings, infoText("", {{"INBOX", "", "2", "10"}}), "");
    store.addMdirAccount("d.org", "zed", goodSettings, infoText("", {{"INBOX", "IPF.Note", "", ""}}));
    std::vector<Folder> folders;

    mailbox.initialize("ann", "d.org", d, "ann", MailboxMbox);
    mailbox.getFolderList(folders);
    mailbox.initialize("zed", "d.org", d, "zed", MailboxMdir);
    mailbox.getFolderList(folders);
    ASSERT_EQ(2u, folders.size());
    EXPECT_EQ(d, folders[0].getAccountDirectory());
    EXPECT_EQ(MailboxMbox, folders[0].getStorageType());
    EXPECT_EQ("10", folders[0].getSize());
    EXPECT_EQ(d + "/zed.mdir", folders[1].getAccountDirectory());
    EXPECT_EQ(MailboxMdir, folders[1].getStorageType());
    EXPECT_EQ("0", folders[1].getMessageCount());
}

TEST_F(MailboxStore, EmptyInfoDictionaryGivesNoSizeAndNoFolders) {
    store.addMacnt("d.org", "a", goodSettings, "{}");
    mailbox.initialize("a", "d.org", d, "a", MailboxMacnt);
    std::vector<Folder> folders;
    mailbox.getFolderList(folders);
    EXPECT_EQ("", mailbox.size);
    EXPECT_TRUE(folders.empty());
    EXPECT_EQ("", out.str());
}

TEST_F(MailboxStore, SettingsFileReachedThroughALinkIsRead) {
    std::string dir = store.addMacnt("d.org", "a", "", infoText("1", {}));
    writeFile(tmp.path() + "/shared.settings", goodSettings);
    unlink((dir + "/account.settings").c_str());
    ASSERT_EQ(0, symlink((tmp.path() + "/shared.settings").c_str(), (dir + "/account.settings").c_str()));
    mailbox.initialize("a", "d.org", d, "a", MailboxMacnt);
    EXPECT_EQ("Ann Lee", mailbox.fullName);
}

// Random bytes as settings and info files: the account either reads or fails
// with CGStoreException; nothing else escapes.
TEST_F(MailboxStore, BinaryGarbageFilesOnlyFailTheAccount) {
    std::string dir = store.addMacnt("d.org", "a", "", "");
    std::mt19937 rng(7);
    int failed = 0;
    for (int round = 0; round < 200; ++round) {
        for (const char* name : {"/account.settings", "/account.info"}) {
            std::string bytes(rng() % 2000, '\0');
            for (char& c : bytes) c = static_cast<char>(rng());
            // Half the rounds start like a dictionary, to get past the first byte.
            if (round % 2) bytes.insert(0, "{");
            writeFile(dir + name, bytes);
        }
        std::vector<Folder> folders;
        try {
            mailbox.initialize("a", "d.org", d, "a", MailboxMacnt);
            mailbox.getFolderList(folders);
        } catch (const CGStoreException&) {
            ++failed;
        }
    }
    EXPECT_GT(failed, 0);
}

TEST_F(MailboxStore, DeeplyNestedFilesFailCleanly) {
    std::string deep;
    for (int i = 0; i < 100000; ++i) deep += "{a = ";
    std::string dir = store.addMacnt("d.org", "a", deep, deep);
    const std::string at = " at line 1, byte " + std::to_string(5 * Parser::MaxDepth + 1);
    EXPECT_EQ("cannot parse settings file: nesting too deep in " + dir + "/account.settings" + at,
              initializeError("a", MailboxMacnt));
    EXPECT_EQ("Warning: cannot parse info file: nesting too deep in " + dir + "/account.info" + at + "\n" +
                  "Error: cannot parse settings file: nesting too deep in " + dir + "/account.settings" + at + "\n",
              out.str());
    EXPECT_EQ("unknown", mailbox.size);
}
