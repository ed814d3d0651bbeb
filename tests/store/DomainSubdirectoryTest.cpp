#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "ErrorText.h"
#include "store/CGException.h"
#include "store/Domain.h"
#include "store/Mailbox.h"
#include "support/StoreBuilder.h"

using namespace tarmig;
using namespace tarmig::testing;

namespace {

const std::string goodSettings = settingsText({{"RealName", "R"}, {"Password", "pw"}});
const std::string goodInfo = infoText("100", {});

struct Found {
    std::string username, path;
    MailboxType type;
    bool operator==(const Found&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Found& f) {
    return out << f.username << " " << f.path << " " << f.type;
}

class DomainSubdirectories : public ::testing::Test {
protected:
    TempDir tmp;
    StoreBuilder store{tmp.path()};
    std::string dir = store.domainDir("d.org");
    std::ostringstream out;
    Domain domain{out};

    void SetUp() override {
        makeDirs(dir);
        domain.initialize("d.org", dir);
    }

    // Every account the domain yields for mask, in the order of the walk.
    std::vector<Found> walk(const std::string& mask) {
        Mailbox mailbox(out);
        std::vector<Found> found;
        for (bool more = domain.getFirstMailbox(mailbox, mask); more; more = domain.getNextMailbox(mailbox, mask)) {
            EXPECT_EQ("d.org", mailbox.domain);
            found.push_back({mailbox.username, mailbox.path, mailbox.type});
        }
        return found;
    }
};

// The account names below `directory` in the order the file system lists
// them, each ".sub" directory's accounts where the directory is listed.
void listAccounts(const std::string& directory, std::vector<std::string>& names) {
    DIR* d = opendir(directory.c_str());
    ASSERT_NE(nullptr, d) << directory;
    while (dirent* entry = readdir(d)) {
        std::string name = entry->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".sub") == 0)
            listAccounts(directory + "/" + name, names);
        else if (name.size() > 6 && name.compare(name.size() - 6, 6, ".macnt") == 0)
            names.push_back(name.substr(0, name.size() - 6));
    }
    closedir(d);
}

}  // namespace

TEST_F(DomainSubdirectories, AccountsTwoLevelsDownInEveryForm) {
    store.addMacnt("d.org", "top", goodSettings, goodInfo);
    store.addMacnt("d.org", "a.sub/b.sub/deep", goodSettings, goodInfo);
    store.addMboxAccount("d.org", "a.sub/b.sub/single", goodSettings, goodInfo, "");
    store.addMdirAccount("d.org", "a.sub/b.sub/dir", goodSettings, goodInfo);
    store.addMacnt("d.org", "a.sub/middle", goodSettings, goodInfo);

    std::vector<Found> found = walk("*");
    std::sort(found.begin(), found.end(), [](const Found& x, const Found& y) { return x.username < y.username; });
    std::string b = dir + "/a.sub/b.sub";
    EXPECT_EQ((std::vector<Found>{{"deep", b + "/deep.macnt", MailboxMacnt},
                                  {"dir", b + "/dir.mdir", MailboxMdir},
                                  {"middle", dir + "/a.sub/middle.macnt", MailboxMacnt},
                                  {"single", b, MailboxMbox},
                                  {"top", dir + "/top.macnt", MailboxMacnt}}),
              found);
    EXPECT_NE(std::string::npos,
              out.str().find(" Info: read mailbox <single> full name: \"R\" password: \"******\" size: 100 path: \"" + b +
                             "\"\n"));
    EXPECT_EQ(std::string::npos, out.str().find("Warning: "));

    // Masks match the account's own name; the subdirectory is only storage.
    std::vector<Found> masked = walk("d*");
    ASSERT_EQ(2u, masked.size());
    EXPECT_EQ(MailboxMdir, (masked[0].username == "dir" ? masked[0] : masked[1]).type);
    EXPECT_TRUE(walk("b.sub*").empty());
    EXPECT_TRUE(walk("a.sub/*").empty());
}

TEST_F(DomainSubdirectories, SubdirectoriesAreWalkedWhereTheyAreListed) {
    for (int i = 0; i < 6; ++i) {
        store.addMacnt("d.org", "u" + std::to_string(i), goodSettings, goodInfo);
        store.addMacnt("d.org", "s" + std::to_string(i) + ".sub/v" + std::to_string(i), goodSettings, goodInfo);
        store.addMacnt("d.org", "s" + std::to_string(i) + ".sub/t.sub/w" + std::to_string(i), goodSettings, goodInfo);
    }
    std::vector<std::string> expected;
    listAccounts(dir, expected);
    std::vector<std::string> names;
    for (const Found& f : walk("*")) names.push_back(f.username);
    EXPECT_EQ(18u, names.size());
    EXPECT_EQ(expected, names);
}

TEST_F(DomainSubdirectories, EntriesThatAreNoAccountsAreWarnedAndSkipped) {
    store.addMacnt("d.org", "x", goodSettings, goodInfo);
    store.addMboxAccount("d.org", "y", goodSettings, goodInfo, "");
    store.addMacnt("d.org", "in.sub/z", goodSettings, goodInfo);
    makeDirs(dir + "/Settings");
    makeDirs(dir + "/y.web");
    writeFile(dir + "/y.prefs", "");
    makeDirs(dir + "/junk");
    makeDirs(dir + "/in.sub/old.mbox");
    writeFile(dir + "/notes.txt", "");
    writeFile(dir + "/in.sub/v.macnt", "");
    ASSERT_EQ(0, symlink("in.sub", (dir + "/shortcut").c_str()));
    ASSERT_EQ(0, mkfifo((dir + "/pipe.mbox").c_str(), 0600));

    std::vector<Found> found = walk("*");
    EXPECT_EQ(3u, found.size());
    std::string log = out.str();
    for (std::string line :
         {"Warning: directory \"" + dir + "/junk\" in domain d.org is not an account, ignored\n",
          "Warning: directory \"" + dir + "/in.sub/old.mbox\" in domain d.org is not an account, ignored\n",
          "Warning: file \"" + dir + "/notes.txt\" in domain d.org is not an account, ignored\n",
          "Warning: file \"" + dir + "/in.sub/v.macnt\" in domain d.org is not an account, ignored\n",
          "Warning: symbolic link \"" + dir + "/shortcut\" in domain d.org is not followed, ignored\n",
          "Warning: special file \"" + dir + "/pipe.mbox\" in domain d.org is not an account, ignored\n"}) {
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    }
    // The server's own entries beside the accounts are expected.
    size_t warnings = 0;
    for (size_t at = log.find("Warning: "); at != std::string::npos; at = log.find("Warning: ", at + 1)) ++warnings;
    EXPECT_EQ(6u, warnings) << log;
}

// Accounts elsewhere on disk, linked in, are not followed; they are lost to
// the run, so each fails instead of passing as a warning.
TEST_F(DomainSubdirectories, LinksWhereAccountsWouldStandFailTheirAccounts) {
    store.addMacnt("d.org", "a", goodSettings, goodInfo);
    store.addMacnt("d.org", "in.sub/x", goodSettings, goodInfo);
    ASSERT_EQ(0, symlink("a.macnt", (dir + "/link.macnt").c_str()));
    ASSERT_EQ(0, symlink("in.sub", (dir + "/other.sub").c_str()));
    ASSERT_EQ(0, symlink("a.macnt", (dir + "/skip.mbox").c_str()));
    Mailbox mailbox(out);
    std::vector<std::string> names, failed;
    // Like the engine: a failed call is reported and the walk asks for the next account.
    bool started = false, more = true;
    while (more && failed.size() < 5) {
        try {
            more = started ? domain.getNextMailbox(mailbox, "[!s]*") : domain.getFirstMailbox(mailbox, "[!s]*");
            started = true;
            if (more) names.push_back(mailbox.username);
        } catch (const CGStoreException&) {
            started = true;
            failed.push_back(mailbox.username);
        }
    }
    std::sort(names.begin(), names.end());
    std::sort(failed.begin(), failed.end());
    EXPECT_EQ((std::vector<std::string>{"a", "x"}), names);
    EXPECT_EQ((std::vector<std::string>{"link", "other.sub"}), failed);
    std::string log = out.str();
    for (std::string link : {"link.macnt", "other.sub"}) {
        std::string line = "Error: symbolic link \"" + dir + "/" + link +
                           "\" in domain d.org is not followed: its accounts are not read\n";
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    }
    // A link the mask does not select hides nothing this run wants.
    EXPECT_NE(std::string::npos,
              log.find("Warning: symbolic link \"" + dir + "/skip.mbox\" in domain d.org is not followed, ignored\n"));
}

TEST_F(DomainSubdirectories, UnreadableSubdirectoryFailsItsAccountsOnly) {
    store.addMacnt("d.org", "a", goodSettings, goodInfo);
    store.addMacnt("d.org", "locked.sub/hidden", goodSettings, goodInfo);
    store.addMacnt("d.org", "b", goodSettings, goodInfo);
    std::string locked = dir + "/locked.sub";
    EXPECT_TRUE(withUnreadableFile(tmp, locked, [&] {
        Mailbox mailbox(out);
        std::vector<std::string> names;
        bool good = true;
        int failures = 0;
        // Like the engine: a failed call is reported and the walk asks for the next account.
        bool started = false, more = true;
        while (more && failures < 5) {
            try {
                more = started ? domain.getNextMailbox(mailbox, "*") : domain.getFirstMailbox(mailbox, "*");
                started = true;
                if (more) names.push_back(mailbox.username);
            } catch (const CGStoreException& e) {
                started = true;
                ++failures;
                good = good && e.what() == "cannot open directory " + locked && mailbox.username == "locked.sub";
            }
        }
        std::sort(names.begin(), names.end());
        return good && failures == 1 && names == std::vector<std::string>{"a", "b"} &&
               out.str().find("Error: cannot open directory " + locked + "\n") != std::string::npos;
    }));
}

// A second account of a name the target already has from this run would be
// taken for an existing account and skipped, its mail left behind: each copy
// after the first fails with a line that says where it lies.
TEST_F(DomainSubdirectories, AnAccountNameMetAgainFailsThatCopy) {
    store.addMacnt("d.org", "bob", goodSettings, goodInfo);
    store.addMacnt("d.org", "a.sub/bob", goodSettings, goodInfo);
    store.addMacnt("d.org", "a.sub/b.sub/BOB", goodSettings, goodInfo);
    store.addMboxAccount("d.org", "a.sub/b.sub/Bob", goodSettings, goodInfo, "");
    store.addMacnt("d.org", "a.sub/carl", goodSettings, goodInfo);
    auto lower = [](std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    };
    for (int listing = 0; listing < 2; ++listing) {
        out.str("");
        Mailbox mailbox(out);
        std::vector<std::string> names;
        int failures = 0;
        bool started = false, more = true;
        // Like the engine: a failed call is reported and the walk asks for the next account.
        while (more && failures < 10) {
            try {
                more = started ? domain.getNextMailbox(mailbox, "b*") : domain.getFirstMailbox(mailbox, "b*");
                started = true;
                if (more) names.push_back(lower(mailbox.username));
            } catch (const CGStoreException& e) {
                started = true;
                ++failures;
                EXPECT_EQ("bob", lower(mailbox.username));
                EXPECT_NE(std::string::npos, std::string(e.what()).find("is stored a second time in \"" + dir + "/"))
                    << e.what();
            }
        }
        EXPECT_EQ(std::vector<std::string>{"bob"}, names);
        EXPECT_EQ(3, failures);
        size_t lines = 0;
        for (size_t at = out.str().find("Error: account <"); at != std::string::npos;
             at = out.str().find("Error: account <", at + 1))
            ++lines;
        EXPECT_EQ(3u, lines) << out.str();
    }
}
