#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Runs of -incremental against a target that holds an earlier run's
// messages: only what the target lacks is sent, the store's flags win and
// nothing on the target is deleted.
namespace {

using namespace tarmig::testing;

// The log of the only run made in workDir.
std::string runLog(const TempDir& work) {
    const std::vector<std::string> logs = filesMatching(work.path(), "tarmig_", ".log");
    EXPECT_EQ(1u, logs.size());
    return logs.empty() ? "" : readFile(logs.front());
}

std::vector<std::string> subjects(const VantrelFolder* folder) {
    std::vector<std::string> found;
    if (folder == nullptr) return found;
    for (const VantrelMessage& message : folder->messages) {
        const std::size_t at = message.data.find("Subject: ");
        if (at == std::string::npos) {
            found.push_back("");
            continue;
        }
        found.push_back(message.data.substr(at + 9, message.data.find('\r', at) - at - 9));
    }
    return found;
}

class IncrementalRun : public ::testing::Test {
protected:
    void SetUp() override {
        account = builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}), infoText("", folders));
        inbox = {storedMessage("Message-ID: <same@x>\nSubject: twin\n\nbody\n", "S", "20-02-2004_12:34:56_"),
                 // The same message again: both copies arrive, once each.
                 storedMessage("Message-ID: <same@x>\nSubject: twin\n\nbody\n", "", "20-02-2004_12:34:56_"),
                 // No readable date: the target gives it its own time.
                 storedMessage("Subject: undated\n\nx\n", "F", "garbage"),
                 storedMessage("Message-ID: <gone@x>\nSubject: gone\n\nbye\n", "A", "21-02-2004_10:00:00_")};
        builder.addMboxFolder(account, "INBOX", mboxText(inbox));
        archive = builder.addMdirFolder(account, "Archive");
        builder.addMdirMessage(archive, "S", "20040305081910", "Message-Id: <m1@x>\nSubject: m1\n\none\n");
        builder.addMdirMessage(archive, "", "20040305081911", "Message-Id: <m2@x>\nSubject: m2\n\ntwo\n");
    }

    ToolRun migrate(const VantrelServer& server, const TempDir& work, std::vector<std::string> extra) {
        std::vector<std::string> args = {"-path", store.path(), "-primaryDomain", "example.com", "-migrate",
                                         "-server", "127.0.0.1", "-port", std::to_string(server.port()),
                                         "-password", server.masterPassword()};
        args.insert(args.end(), extra.begin(), extra.end());
        return runTool(args, work.path());
    }

    TempDir store;
    StoreBuilder builder{store.path()};
    std::string account;
    std::string archive;
    std::vector<FolderEntry> folders = {{"INBOX", "", "4", ""}, {"Archive", "", "2", ""}};
    std::vector<MboxMessage> inbox;
};

TEST_F(IncrementalRun, AfterACompleteRunWithoutItNothingIsSentAgain) {
    VantrelServer server;
    TempDir first, second;
    ASSERT_EQ(0, migrate(server, first, {}).exitStatus);
    const std::uint64_t commandsBefore = server.dump().stats.commands;
    const ToolRun again = migrate(server, second, {"-incremental", "-report", second.path() + "/report.jsonl"});
    EXPECT_EQ(0, again.exitStatus) << again.out;
    // Per folder only its SELECT with the UID FETCH of the keys (one round
    // trip). Besides them: the domain's check (X-MASTERAUTH, LOGOUT) and the
    // account's X-MASTERAUTH, X-CREATEUSER, X-SETUSER, X-CHECKVERSION and
    // LOGOUT.
    EXPECT_EQ(server.dump().stats.commands - commandsBefore, 2u + 5u + 2u * 2u);
    EXPECT_NE(std::string::npos, again.out.find("Info: messages already present: 6\n")) << again.out;
    EXPECT_NE(std::string::npos, again.out.find("Info: messages appended: 0, failed: 0\n")) << again.out;
    const std::string log = runLog(second);
    EXPECT_NE(std::string::npos, log.find("Info: <ann@example.com> folder \"INBOX\": 4 messages already present\n"));
    EXPECT_NE(std::string::npos, log.find("Info: <ann@example.com> folder \"Archive\": 2 messages already present\n"));
    EXPECT_EQ(std::string::npos, log.find("not in the store"));
    EXPECT_NE(std::string::npos, readFile(second.path() + "/report.jsonl").find("\"already_present\":6"));

    server.stop();
    const VantrelDump dump = server.dump();
    EXPECT_EQ(6u, dump.stats.appends);
    EXPECT_EQ(0u, dump.stats.stores);
    const VantrelAccount* ann = dump.account("ann", "example.com");
    ASSERT_NE(nullptr, ann);
    EXPECT_EQ(4u, ann->folder("INBOX")->messages.size());
    EXPECT_EQ(2u, ann->folder("Archive")->messages.size());
    // The account existed: its password is left as it was.
    EXPECT_EQ("pw", ann->password);
}

TEST_F(IncrementalRun, WithoutItAnExistingAccountIsStillSkipped) {
    VantrelServer server;
    TempDir first, second;
    ASSERT_EQ(0, migrate(server, first, {}).exitStatus);
    const ToolRun again = migrate(server, second, {});
    EXPECT_EQ(0, again.exitStatus);
    EXPECT_EQ(std::string::npos, again.out.find("already present"));
    server.stop();
    EXPECT_EQ(6u, server.dump().stats.appends);
}

TEST_F(IncrementalRun, TheSecondRunSendsOnlyTheDifferenceAndTheStoreFlagsWin) {
    VantrelServer server;
    TempDir first, second;
    ASSERT_EQ(0, migrate(server, first, {"-incremental"}).exitStatus);

    // Between the runs: a message read, one deleted and one arriving in
    // INBOX, a file added to Archive, a new folder and a new account.
    std::vector<MboxMessage> changed = {inbox[0], inbox[1], inbox[2]};
    changed[1].flags = "S";
    changed.push_back(storedMessage("Message-ID: <new@x>\nSubject: new\n\nhi\n", "", "22-02-2004_10:00:00_"));
    builder.addMboxFolder(account, "INBOX", mboxText(changed));
    builder.addMdirMessage(archive, "", "20040305081912", "Message-Id: <m3@x>\nSubject: m3\n\nthree\n");
    folders.push_back({"Later", "", "1", ""});
    writeFile(account + "/account.info", infoText("", folders));
    builder.addMboxFolder(account, "Later", mboxText({storedMessage("Subject: later\n\nl\n", "", "23-02-2004_10:00:00_")}));
    builder.addMboxAccount("", "bob", settingsText({{"Password", "pb"}}), infoText("1", {{"INBOX", "", "1", ""}}),
                           mboxText({storedMessage("Subject: bob\n\nb\n", "", "24-02-2004_10:00:00_")}));

    const ToolRun again = migrate(server, second, {"-incremental"});
    EXPECT_EQ(0, again.exitStatus) << again.out;
    EXPECT_NE(std::string::npos, again.out.find("Info: messages appended: 4, failed: 0\n")) << again.out;
    EXPECT_NE(std::string::npos, again.out.find("Info: messages already present: 5\n")) << again.out;
    const std::string log = runLog(second);
    EXPECT_NE(std::string::npos, log.find("Info: <ann@example.com> folder \"INBOX\": 1 messages on the target are "
                                          "not in the store (left in place)\n"))
        << log;

    server.stop();
    const VantrelDump dump = server.dump();
    EXPECT_EQ(10u, dump.stats.appends);
    EXPECT_EQ(1u, dump.stats.stores);
    const VantrelAccount* ann = dump.account("ann", "example.com");
    ASSERT_NE(nullptr, ann);
    const VantrelFolder* box = ann->folder("INBOX");
    ASSERT_NE(nullptr, box);
    EXPECT_EQ((std::vector<std::string>{"twin", "twin", "undated", "gone", "new"}), subjects(box));
    EXPECT_EQ(std::vector<std::string>{"\\Seen"}, box->messages[1].flags);
    EXPECT_EQ((std::vector<std::string>{"m1", "m2", "m3"}), subjects(ann->folder("Archive")));
    EXPECT_EQ(std::vector<std::string>{"later"}, subjects(ann->folder("Later")));
    const VantrelAccount* bob = dump.account("bob", "example.com");
    ASSERT_NE(nullptr, bob);
    EXPECT_EQ(std::vector<std::string>{"bob"}, subjects(bob->folder("INBOX")));
}

TEST_F(IncrementalRun, AMessageTheStoreCannotHandOutIsReportedOnceAndMovesNoOther) {
    // Third of the folder's entries: the messages after it have other positions than numbers.
    makeDirs(archive + "/3-S-20040305081913-dir");
    writeFile(archive + "/4-S-20040305081914-x", "Message-Id: <m4@x>\nSubject: m4\n\nfour\n");
    VantrelServer server;
    TempDir first, second;
    EXPECT_EQ(1, migrate(server, first, {"-incremental"}).exitStatus);
    writeFile(archive + "/5-S-20040305081915-x", "Message-Id: <m5@x>\nSubject: m5\n\nfive\n");

    const ToolRun again = migrate(server, second, {"-incremental"});
    EXPECT_EQ(1, again.exitStatus) << again.out;
    const std::string lost =
        "Error: cannot read message \"" + archive + "/3-S-20040305081913-dir\": not a regular file\n";
    const std::size_t at = again.out.find(lost);
    EXPECT_NE(std::string::npos, at) << again.out;
    EXPECT_EQ(std::string::npos, again.out.find(lost, at + 1)) << again.out;
    server.stop();
    const VantrelDump dump = server.dump();
    EXPECT_EQ(8u, dump.stats.appends);
    EXPECT_EQ((std::vector<std::string>{"m1", "m2", "m4", "m5"}),
              subjects(dump.account("ann", "example.com")->folder("Archive")));
}

TEST_F(IncrementalRun, SideBySideJobsReconcileEachAccountOnItsOwnConnection) {
    builder.addMboxAccount("", "bob", settingsText({{"Password", "pb"}}), infoText("1", {{"INBOX", "", "2", ""}}),
                           mboxText({storedMessage("Subject: b1\n\nb\n", "S", "24-02-2004_10:00:00_"),
                                     storedMessage("Subject: b2\n\nb\n", "", "24-02-2004_10:00:01_")}));
    VantrelServer server;
    TempDir first, second;
    ASSERT_EQ(0, migrate(server, first, {"-jobs", "2"}).exitStatus);
    const ToolRun again = migrate(server, second, {"-incremental", "-jobs", "2"});
    EXPECT_EQ(0, again.exitStatus) << again.out;
    EXPECT_NE(std::string::npos, again.out.find("Info: messages already present: 8\n")) << again.out;
    server.stop();
    EXPECT_EQ(8u, server.dump().stats.appends);
}

TEST_F(IncrementalRun, ATargetLostWhileItsMessagesAreReadEndsTheRunBeforeAnythingIsSent) {
    // The account exists: an account the run creates has nothing to read back.
    TempDir first, work;
    VantrelServer firstServer;
    ASSERT_EQ(0, migrate(firstServer, first, {}).exitStatus);
    firstServer.stop();
    builder.addMdirMessage(archive, "", "20040305081912", "Message-Id: <m3@x>\nSubject: m3\n\nthree\n");
    VantrelServer server(
        {.arguments = {"--load", firstServer.dumpFile(), "--bye-after", "0", "--fault-commands", "UID"}});
    const ToolRun run = migrate(server, work, {"-incremental"});
    EXPECT_EQ(3, run.exitStatus) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("Result: migration failed")) << run.out;
    server.stop();
    EXPECT_EQ(0u, server.dump().stats.appends);
}

TEST_F(IncrementalRun, ATargetLostWhileFlagsAreSetEndsTheRunWithTheOldFlagsLeft) {
    TempDir first, second;
    VantrelServer firstServer;
    ASSERT_EQ(0, migrate(firstServer, first, {}).exitStatus);
    firstServer.stop();
    std::vector<MboxMessage> read = inbox;
    read[1].flags = "S";
    builder.addMboxFolder(account, "INBOX", mboxText(read));

    // The folder's UID FETCH is the first UID command, its UID STORE the second.
    VantrelServer server(
        {.arguments = {"--load", firstServer.dumpFile(), "--bye-after", "1", "--fault-commands", "UID"}});
    const ToolRun again = migrate(server, second, {"-incremental"});
    EXPECT_EQ(3, again.exitStatus) << again.out;
    EXPECT_NE(std::string::npos, again.out.find("Result: migration failed")) << again.out;
    server.stop();
    const VantrelDump dump = server.dump();
    EXPECT_EQ(0u, dump.stats.appends);
    EXPECT_TRUE(dump.account("ann", "example.com")->folder("INBOX")->messages[1].flags.empty());
}

}  // namespace
