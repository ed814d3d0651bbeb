#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Migrations of domains that keep accounts in nested ".sub" directories and
// settings written with the whole dictionary format, by the built binary
// into the Vantrel test server.
namespace {

using namespace tarmig::testing;

MboxMessage message(const std::string& subject, const std::string& uid) {
    MboxMessage m;
    m.data = "Subject: " + subject + "\r\n\r\n" + subject + "\r\n";
    m.uid = uid;
    return m;
}

// Subjects of every message that arrived, by "user@domain/folder".
std::map<std::string, std::vector<std::string>> arrived(const VantrelDump& dump) {
    std::map<std::string, std::vector<std::string>> subjects;
    for (const VantrelAccount& account : dump.accounts) {
        for (const VantrelFolder& folder : account.folders) {
            auto& list = subjects[account.name + "@" + account.domain + "/" + folder.name];
            for (const VantrelMessage& m : folder.messages) list.push_back(m.data.substr(9, m.data.find('\r') - 9));
        }
    }
    return subjects;
}

class SubdirectoryRun : public ::testing::Test {
protected:
    TempDir store, work;
    StoreBuilder builder{store.path()};
    std::string accounts = builder.domainDir("");

    ToolRun run(std::vector<std::string> extra) {
        std::vector<std::string> args{"-path", store.path(), "-primaryDomain", "example.com"};
        args.insert(args.end(), extra.begin(), extra.end());
        return runTool(args, work.path());
    }
    std::string logText() {
        auto logs = filesMatching(work.path(), "tarmig_", ".log");
        return logs.size() == 1 ? readFile(logs[0]) : "";
    }

    // Accounts at the top, one and two ".sub" levels down, in every form,
    // in two domains, beside entries that are not accounts.
    void buildStore() {
        // Settings and info text in the forms CommuniGate writes beyond the basic ones.
        std::string deep = builder.addMacnt(
            "", "a.sub/b.sub/deep",
            "{RealName = \"Deep \"\n  \"Down\"; Password = \"deep-pw\"; LastAddress = #I[10.0.0.7]:25;"
            " Key = [QUJD]\n [REVG]; Limit = #NULL#; Set = #(a, b); Card = <vCard><FN>Deep Down</FN></vCard>;}\n",
            "{#StorageUsed = #300; INBOX = {Messages = #2;}; \"Notes\" \" 2004\" = {Class = IPF.Note; Messages = #1;"
            " Origin = #I[::1];};}\n");
        builder.addMboxFolder(deep, "INBOX", mboxText({message("deep 1", "1"), message("deep 2", "2")}));
        std::string notes = builder.addMdirFolder(deep, "Notes 2004");
        builder.addMdirMessage(notes, "S", "20040305081910", "Subject: deep note\r\n\r\ndeep note\r\n");

        builder.addMboxAccount("", "a.sub/b.sub/single", "{RealName = Single; Password = single-pw;}",
                               "{INBOX = {Messages = #2;};}",
                               mboxText({message("single 1", "1"), message("single 2", "2")}));
        std::string dir =
            builder.addMdirAccount("", "a.sub/dir", "{Password = dir-pw;}", "{INBOX = {Messages = #1;};}");
        builder.addMdirMessage(dir, "", "20040305081910", "Subject: dir 1\r\n\r\ndir 1\r\n");
        std::string top = builder.addMacnt("", "top", "{Password = top-pw;}", "{INBOX = {Messages = #1;};}");
        builder.addMboxFolder(top, "INBOX", mboxText({message("top 1", "1")}));
        std::string bob =
            builder.addMacnt("other.org", "x.sub/bob", "{Password = bob-pw;}", "{INBOX = {Messages = #1;};}");
        builder.addMboxFolder(bob, "INBOX", mboxText({message("bob 1", "1")}));

        makeDirs(accounts + "/Settings");
        makeDirs(accounts + "/junk");
        writeFile(accounts + "/a.sub/notes.txt", "");
        ASSERT_EQ(0, symlink("top.macnt", (accounts + "/alias").c_str()));
    }
};

}  // namespace

TEST_F(SubdirectoryRun, EveryMessageOfAccountsInSubdirectoriesArrives) {
    buildStore();
    VantrelServer server;
    auto result =
        run({"-migrate", "-server", "127.0.0.1", "-port", std::to_string(server.port()), "-password", "master"});
    server.stop();
    VantrelDump dump = server.dump();

    EXPECT_EQ(0, result.exitStatus) << result.out;
    EXPECT_EQ((std::map<std::string, std::vector<std::string>>{
                  {"deep@example.com/INBOX", {"deep 1", "deep 2"}},
                  {"deep@example.com/Notes 2004", {"deep note"}},
                  {"single@example.com/INBOX", {"single 1", "single 2"}},
                  {"dir@example.com/INBOX", {"dir 1"}},
                  {"top@example.com/INBOX", {"top 1"}},
                  {"bob@other.org/INBOX", {"bob 1"}},
              }),
              arrived(dump));
    const VantrelAccount* deep = dump.account("deep", "example.com");
    ASSERT_NE(nullptr, deep);
    EXPECT_EQ("Deep Down", deep->fullName);
    EXPECT_EQ("deep-pw", deep->password);
    ASSERT_NE(nullptr, dump.account("single", "example.com"));
    EXPECT_EQ("single-pw", dump.account("single", "example.com")->password);

    std::string log = logText();
    for (const std::string& line :
         {"Warning: directory \"" + accounts + "/junk\" in domain example.com is not an account, ignored\n",
          "Warning: file \"" + accounts + "/a.sub/notes.txt\" in domain example.com is not an account, ignored\n",
          "Warning: symbolic link \"" + accounts + "/alias\" in domain example.com is not followed, ignored\n",
          std::string("Info: accounts migrated: 5, skipped (already existing): 0, failed: 0\n"),
          std::string("Info: messages appended: 8, failed: 0\n"), std::string("\nResult: migration successful\n")}) {
        EXPECT_NE(std::string::npos, log.find(line)) << line;
    }
    EXPECT_EQ(std::string::npos, log.find("Settings\" in domain"));
}

TEST_F(SubdirectoryRun, UnreadableSubdirectoryFailsTheRun) {
    buildStore();
    std::string locked = accounts + "/a.sub/b.sub";
    VantrelServer server;
    // As root the tool runs as an unprivileged user, who must write its log here.
    ASSERT_EQ(0, chmod(work.path().c_str(), 0777));
    bool checked = withUnreadableFile(store, locked, [&] {
        auto result =
            run({"-migrate", "-server", "127.0.0.1", "-port", std::to_string(server.port()), "-password", "master"});
        std::string log = logText();
        return result.exitStatus == 1 &&
               log.find("Error: cannot open directory " + locked + "\n") != std::string::npos &&
               log.find("Error: cannot migrate mailbox <a.sub/b.sub>\n") != std::string::npos &&
               log.find("\nResult: migration failed\n") != std::string::npos;
    });
    server.stop();
    EXPECT_TRUE(checked) << logText();
    // The accounts beside the unreadable directory still arrive.
    VantrelDump dump = server.dump();
    EXPECT_NE(nullptr, dump.account("dir", "example.com"));
    EXPECT_NE(nullptr, dump.account("top", "example.com"));
    EXPECT_EQ(nullptr, dump.account("deep", "example.com"));
}

TEST_F(SubdirectoryRun, ASecondAccountOfTheSameNameFailsTheRun) {
    std::string first = builder.addMacnt("", "bob", "{Password = first-pw;}", "{INBOX = {Messages = #1;};}");
    builder.addMboxFolder(first, "INBOX", mboxText({message("first 1", "1")}));
    std::string second =
        builder.addMacnt("", "a.sub/b.sub/Bob", "{Password = second-pw;}", "{INBOX = {Messages = #1;};}");
    builder.addMboxFolder(second, "INBOX", mboxText({message("second 1", "1")}));
    VantrelServer server;
    auto result =
        run({"-migrate", "-server", "127.0.0.1", "-port", std::to_string(server.port()), "-password", "master"});
    server.stop();
    VantrelDump dump = server.dump();

    // Which copy the walk meets first is the file system's choice.
    ASSERT_EQ(1u, dump.accounts.size());
    std::map<std::string, std::vector<std::string>> one = arrived(dump);
    ASSERT_EQ(1u, one.size());
    EXPECT_EQ(1u, one.begin()->second.size());
    EXPECT_EQ(1, result.exitStatus) << result.out;
    std::string log = logText();
    EXPECT_NE(std::string::npos, log.find("> is stored a second time in \"" + accounts + "/")) << log;
    EXPECT_NE(std::string::npos, log.find("Info: accounts migrated: 1, skipped (already existing): 0, failed: 1\n"))
        << log;
    EXPECT_NE(std::string::npos, log.find("\nResult: migration failed\n"));
    // The password report speaks only of the account that was provisioned.
    auto reports = filesMatching(work.path(), "tarmig_", ".pass");
    ASSERT_EQ(1u, reports.size());
    EXPECT_EQ(std::string::npos, readFile(reports[0]).find("already exist"));
}

TEST_F(SubdirectoryRun, AnAccountLinkedInFromElsewhereFailsTheRun) {
    std::string real = builder.addMacnt("", "a.sub/ann", "{}", "{INBOX = {Messages = #1;};}");
    builder.addMboxFolder(real, "INBOX", mboxText({message("ann 1", "1")}));
    ASSERT_EQ(0, symlink(real.c_str(), (accounts + "/moved.macnt").c_str()));
    VantrelServer server;
    auto result =
        run({"-migrate", "-server", "127.0.0.1", "-port", std::to_string(server.port()), "-password", "master"});
    server.stop();

    EXPECT_EQ((std::map<std::string, std::vector<std::string>>{{"ann@example.com/INBOX", {"ann 1"}}}),
              arrived(server.dump()));
    EXPECT_EQ(1, result.exitStatus) << result.out;
    EXPECT_NE(std::string::npos, result.out.find("Error: cannot migrate mailbox <moved>\n")) << result.out;
    std::string log = logText();
    EXPECT_NE(std::string::npos, log.find("Error: symbolic link \"" + accounts +
                                          "/moved.macnt\" in domain example.com is not followed: its accounts are "
                                          "not read\n"))
        << log;
    EXPECT_NE(std::string::npos, log.find("\nResult: migration failed\n"));
}

TEST_F(SubdirectoryRun, ADomainDirectoryOfThePrimaryDomainsNameFailsTheRun) {
    std::string primary = builder.addMacnt("", "bob", "{Password = first-pw;}", "{INBOX = {Messages = #1;};}");
    builder.addMboxFolder(primary, "INBOX", mboxText({message("primary 1", "1")}));
    std::string again =
        builder.addMacnt("example.com", "bob", "{Password = second-pw;}", "{INBOX = {Messages = #1;};}");
    builder.addMboxFolder(again, "INBOX", mboxText({message("again 1", "1")}));
    VantrelServer server;
    auto result =
        run({"-migrate", "-server", "127.0.0.1", "-port", std::to_string(server.port()), "-password", "master"});
    server.stop();

    EXPECT_EQ((std::map<std::string, std::vector<std::string>>{{"bob@example.com/INBOX", {"primary 1"}}}),
              arrived(server.dump()));
    EXPECT_EQ(1, result.exitStatus) << result.out;
    std::string log = logText();
    EXPECT_NE(std::string::npos, log.find("Error: domain example.com in \"" + store.path() +
                                          "/Domains/example.com\" has the name of the primary domain"))
        << log;
    EXPECT_EQ(std::string::npos, log.find("user already exist")) << log;
    EXPECT_NE(std::string::npos, log.find("\nResult: migration failed\n"));
}
