#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "ErrorText.h"
#include "store/CGException.h"
#include "store/Mailbox.h"
#include "support/StoreBuilder.h"

// Folders that lie in an account's storage whether or not its info file
// lists them: the server rebuilds that file, the disk is the truth.
namespace {

using namespace tarmig;
using namespace tarmig::testing;

const std::string settings = settingsText({{"RealName", "Ann"}});

class MailboxDiskFolders : public ::testing::Test {
protected:
    TempDir tmp;
    StoreBuilder store{tmp.path()};
    std::string d = store.domainDir("d.org");
    std::ostringstream out;
    Mailbox mailbox{out};

    std::vector<Folder> folderList(const std::string& name, MailboxType type) {
        mailbox.initialize(name, "d.org", d, name, type);
        std::vector<Folder> folders;
        mailbox.getFolderList(folders);
        return folders;
    }
};

struct Seen {
    std::string name, folderClass;
    bool fromDisk;
    bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Seen& s) {
    return os << s.name << " " << s.folderClass << (s.fromDisk ? " (disk)" : "");
}

std::vector<Seen> seen(const std::vector<Folder>& folders) {
    std::vector<Seen> out;
    for (const Folder& f : folders) out.push_back({f.getName(), f.getClass(), f.isFromDisk()});
    return out;
}

}  // namespace

TEST_F(MailboxDiskFolders, UnlistedFoldersFollowTheListedOnesAsMailFolders) {
    std::string a = store.addMacnt("d.org", "ann", settings,
                                   infoText("", {{"INBOX", "", "1", ""}, {"Cal", "IPF.Appointment", "1", ""}}));
    store.addMboxFolder(a, "INBOX", "");
    store.addMdirFolder(a, "Cal");
    store.addMboxFolder(a, "Extra", "");
    store.addMdirFolder(a, "Notes");
    store.addMboxFolder(a, "Projects/2004", "");
    store.addMdirFolder(a, "Projects/Deep/X");
    store.addMboxFolder(a, "Sent Items", "");
    // Not folders: other files, and storage suffixes on the wrong kind of entry.
    writeFile(a + "/readme.txt", "x");
    makeDirs(a + "/Weird.mbox");
    writeFile(a + "/File.mdir", "x");
    writeFile(a + "/.mbox", "x");
    writeFile(a + "/Plain.folder", "x");
    ASSERT_EQ(0, mkfifo((a + "/Pipe.mbox").c_str(), 0600));

    auto folders = folderList("ann", MailboxMacnt);
    EXPECT_EQ((std::vector<Seen>{{"Cal", "IPF.Appointment", false},
                                 {"INBOX", "IPF.Default", false},
                                 {"Extra", "IPF.Note", true},
                                 {"Notes", "IPF.Note", true},
                                 {"Projects/2004", "IPF.Note", true},
                                 {"Projects/Deep/X", "IPF.Note", true},
                                 {"Sent Items", "IPF.Note", true}}),
              seen(folders));
    EXPECT_EQ(ImapFolderType::FolderMail, folders[2].getType());
    EXPECT_EQ(a, folders[2].getAccountDirectory());
    EXPECT_EQ(MailboxMacnt, folders[2].getStorageType());
    EXPECT_NE(std::string::npos, out.str().find("   Info: found folder \"ann/Projects/Deep/X\" on disk\n"));
    EXPECT_TRUE(mailbox.takeProblems().empty());
    // Holding no mail the reader can read, they are named in the log, not passed over unseen.
    for (const char* odd : {"Weird.mbox", "File.mdir", "Plain.folder", "Pipe.mbox"}) {
        std::string line = "Warning: \"" + a + "/" + odd + "\" is not a folder's storage of its kind, not read\n";
        EXPECT_NE(std::string::npos, out.str().find(line)) << line;
    }
    EXPECT_EQ(std::string::npos, out.str().find("readme.txt"));

    // A copy keeps where the folder came from.
    Folder copy = folders[3];
    EXPECT_TRUE(copy.isFromDisk());
}

TEST_F(MailboxDiskFolders, WithoutAReadableInfoFileEveryFolderComesFromDisk) {
    std::string a = store.addMacnt("d.org", "ann", settings, "{INBOX = {Class = IPF.Task;}; Bad = ");
    store.addMboxFolder(a, "INBOX", "");
    store.addMdirFolder(a, "Archive/2004");
    // No part of a file that breaks off is trusted.
    EXPECT_EQ((std::vector<Seen>{{"Archive/2004", "IPF.Note", true}, {"INBOX", "IPF.Note", true}}),
              seen(folderList("ann", MailboxMacnt)));
    EXPECT_EQ("unknown", mailbox.size);
    EXPECT_NE(std::string::npos, out.str().find("Warning: cannot parse info file: "));

    unlink((a + "/account.info").c_str());
    EXPECT_EQ(2u, folderList("ann", MailboxMacnt).size());

    // Single-file and message-directory accounts: their storage is the inbox.
    std::string bob = store.addMboxAccount("d.org", "bob", settings, "", "");
    unlink((d + "/bob.info").c_str());
    EXPECT_EQ((std::vector<Seen>{{"INBOX", "IPF.Note", true}}), seen(folderList("bob", MailboxMbox)));
    store.addMdirAccount("d.org", "cy", settings, infoText("", {}));
    auto folders = folderList("cy", MailboxMdir);
    EXPECT_EQ((std::vector<Seen>{{"INBOX", "IPF.Note", true}}), seen(folders));
    EXPECT_EQ(d + "/cy.mdir", folders[0].getAccountDirectory());
    // A listed inbox is not added again.
    store.addMdirAccount("d.org", "dee", settings, infoText("", {{"INBOX", "IPF.Note", "3", ""}}));
    EXPECT_EQ((std::vector<Seen>{{"INBOX", "IPF.Note", false}}), seen(folderList("dee", MailboxMdir)));
}

TEST_F(MailboxDiskFolders, LinksAreRefusedNotFollowed) {
    std::string a = store.addMacnt("d.org", "ann", settings, infoText("", {{"Mine", "", "1", ""}}));
    std::string elsewhere = tmp.path() + "/elsewhere";
    store.addMboxFolder(elsewhere, "Inner", "");
    ASSERT_EQ(0, symlink((elsewhere + "/Inner.mbox").c_str(), (a + "/Link.mbox").c_str()));
    ASSERT_EQ(0, symlink(elsewhere.c_str(), (a + "/Dir.mdir").c_str()));
    ASSERT_EQ(0, symlink(elsewhere.c_str(), (a + "/Tree.folder").c_str()));
    // A listed folder's own storage is refused when the folder is opened.
    ASSERT_EQ(0, symlink((elsewhere + "/Inner.mbox").c_str(), (a + "/Mine.mbox").c_str()));

    auto folders = folderList("ann", MailboxMacnt);
    EXPECT_EQ((std::vector<Seen>{{"Mine", "IPF.Default", false}}), seen(folders));
    std::vector<std::string> lines;
    for (const StoreProblem& p : mailbox.takeProblems()) {
        EXPECT_EQ(StoreProblem::LostFolder, p.loss);
        lines.push_back(p.line);
    }
    std::sort(lines.begin(), lines.end());
    auto refused = [&](const std::string& entry) {
        return "Error: folder storage \"" + a + "/" + entry + "\" is a symbolic link, not read\n";
    };
    EXPECT_EQ((std::vector<std::string>{refused("Dir.mdir"), refused("Link.mbox"), refused("Tree.folder")}), lines);
    EXPECT_TRUE(mailbox.takeProblems().empty());
}

TEST_F(MailboxDiskFolders, AccountDirectoryThatCannotBeListedFailsTheFolderList) {
    std::string a = store.addMacnt("d.org", "ann", settings, infoText("", {}));
    mailbox.initialize("ann", "d.org", d, "ann", MailboxMacnt);
    unlink((a + "/account.settings").c_str());
    unlink((a + "/account.info").c_str());
    ASSERT_EQ(0, rmdir(a.c_str()));
    std::vector<Folder> folders;
    std::string text = "cannot read account directory \"" + a + "\"";
    EXPECT_EQ(text, errorText<CGStoreException>([&] { mailbox.getFolderList(folders); }));
    EXPECT_NE(std::string::npos, out.str().find("Error: " + text + "\n"));
}
