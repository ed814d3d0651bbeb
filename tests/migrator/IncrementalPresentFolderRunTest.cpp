#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// A second -incremental run over folders whose messages are all on the
// target: the store is read once, and what it could not hand out is still
// reported, once, with the run failed as in the run that sent the messages.
namespace {

using namespace tarmig::testing;

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++count;
    return count;
}

std::string runLog(const TempDir& work) {
    const std::vector<std::string> logs = filesMatching(work.path(), "tarmig_", ".log");
    EXPECT_EQ(1u, logs.size());
    return logs.empty() ? "" : readFile(logs.front());
}

class IncrementalPresentFolder : public ::testing::Test {
protected:
    void SetUp() override {
        // Archive's info count also holds the entry that is no message file.
        account = builder.addMacnt(
            "", "ann", settingsText({{"Password", "pw"}}),
            infoText("", {{"INBOX", "", "2", ""}, {"Archive", "", "4", ""}}));
        inboxFile = builder.addMboxFolder(
            account, "INBOX",
            "stray text\n" + mboxText({storedMessage("Message-ID: <i1@x>\nSubject: i1\n\none\n", "S",
                                                     "20-02-2004_12:34:56_"),
                                       storedMessage("Message-ID: <i2@x>\nSubject: i2\n\ntwo\n", "",
                                                     "20-02-2004_12:34:57_")}));
        archive = builder.addMdirFolder(account, "Archive");
        builder.addMdirMessage(archive, "S", "20040305081910", "Message-Id: <m1@x>\nSubject: m1\n\none\n");
        makeDirs(archive + "/2-S-20040305081911-dir");
        writeFile(archive + "/3--20040305081912-x", "Message-Id: <m3@x>\nSubject: m3\n\nthree\n");
    }

    ToolRun migrate(const VantrelServer& server, const TempDir& work) {
        return runTool({"-path", store.path(), "-primaryDomain", "example.com", "-migrate", "-incremental",
                        "-server", "127.0.0.1", "-port", std::to_string(server.port()), "-password",
                        server.masterPassword()},
                       work.path());
    }

    TempDir store;
    StoreBuilder builder{store.path()};
    std::string account;
    std::string inboxFile;
    std::string archive;
};

TEST_F(IncrementalPresentFolder, StoreProblemsAreReportedOnceFromTheOnlyRead) {
    VantrelServer server;
    TempDir first, second;
    const ToolRun sending = migrate(server, first);
    ASSERT_EQ(1, sending.exitStatus) << sending.out;
    const ToolRun again = migrate(server, second);
    EXPECT_EQ(1, again.exitStatus) << again.out;

    const std::string lostMessage =
        "Error: cannot read message \"" + archive + "/2-S-20040305081911-dir\": not a regular file\n";
    const std::string lostBytes = "Warning: 11 bytes of \"" + inboxFile + "\" before its first message separator";
    const std::string shortCount = "Warning: folder \"Archive\": 3 messages read, the account's info file says 4\n";
    // The same lines and counts as the run that sent the messages.
    for (const ToolRun* run : {&sending, &again}) {
        EXPECT_EQ(1u, occurrences(run->out, lostMessage)) << run->out;
        EXPECT_EQ(1u, occurrences(run->out, lostBytes)) << run->out;
        EXPECT_NE(std::string::npos, run->out.find("Result: migration failed\n")) << run->out;
    }
    EXPECT_NE(std::string::npos, sending.out.find("Info: messages appended: 4, failed: 1\n")) << sending.out;
    EXPECT_NE(std::string::npos, again.out.find("Info: messages appended: 0, failed: 1\n")) << again.out;
    EXPECT_NE(std::string::npos, again.out.find("Info: messages already present: 4\n")) << again.out;
    EXPECT_EQ(1u, occurrences(runLog(first), shortCount));
    const std::string log = runLog(second);
    EXPECT_EQ(1u, occurrences(log, shortCount)) << log;
    // Each message file is opened once: nothing to send, no second read.
    EXPECT_EQ(1u, occurrences(log, "Info: read message, filename: 1-S-20040305081910-x\n")) << log;
    EXPECT_EQ(1u, occurrences(log, "Info: read message, filename: 3--20040305081912-x\n")) << log;

    server.stop();
    EXPECT_EQ(4u, server.dump().stats.appends);
}

// The target's answers for a folder whose storage cannot be read once they
// are asked for are still read, so the next folder's commands get their own.
TEST_F(IncrementalPresentFolder, AFolderTheStoreCannotReadLeavesTheSessionInStep) {
    writeFile(account + "/account.info",
              infoText("", {{"Lost", "", "1", ""}, {"INBOX", "", "2", ""}, {"Archive", "", "4", ""}}));
    const std::string lost = builder.addMboxFolder(
        account, "Lost", mboxText({storedMessage("Message-ID: <l@x>\nSubject: l\n\nl\n", "S", "20-02-2004_12:34:56_")}));
    VantrelServer server;
    TempDir first, second;
    ASSERT_EQ(1, migrate(server, first).exitStatus);
    ASSERT_EQ(0, std::remove(lost.c_str()));
    const ToolRun again = migrate(server, second);
    EXPECT_EQ(1, again.exitStatus) << again.out;
    EXPECT_EQ(1u, occurrences(again.out, "Error: cannot migrate folder \"Lost\"\n")) << again.out;
    EXPECT_NE(std::string::npos, again.out.find("Info: folders migrated: 2, failed: 1\n")) << again.out;
    EXPECT_NE(std::string::npos, again.out.find("Info: messages already present: 4\n")) << again.out;
    server.stop();
    EXPECT_EQ(5u, server.dump().stats.appends);
}

}  // namespace
