#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Store text beyond ASCII on its way to a server as strict as real ones:
// 8-bit values travel as literals, folder names in modified UTF-7, and a
// message that an IMAP literal cannot carry (it holds NUL) is reported, not
// sent altered.
namespace {

using namespace tarmig::testing;

const std::string fullName = "Zo\xc3\xab \xc3\x86r\xc3\xb8";
const std::string password = "p\xc3\xa4ss \"\\ \xff";
const std::string drafts = "Entw\xc3\xbcrfe";

std::string oneMessage(const std::string& body) {
    MboxMessage message;
    message.data = "Subject: " + body + "\n\n" + body + "\n";
    return mboxText({message});
}

std::string logText(const std::string& workDir) {
    const std::vector<std::string> logs = filesMatching(workDir, "tarmig_", ".log");
    return logs.size() == 1 ? readFile(logs[0]) : "";
}

ToolRun migrate(const std::string& store, const std::string& work, const VantrelServer& server,
                const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {"-path", store, "-primaryDomain", "example.com", "-migrate", "-server",
                                     "127.0.0.1", "-port", std::to_string(server.port()), "-password", "master"};
    args.insert(args.end(), more.begin(), more.end());
    return runTool(args, work);
}

std::vector<std::string> folderNames(const VantrelAccount& account) {
    std::vector<std::string> names;
    for (const VantrelFolder& folder : account.folders) names.push_back(folder.name);
    return names;
}

TEST(EightBitTextRun, FullNamePasswordAndFolderNamesArriveWhole) {
    TempDir store, work;
    StoreBuilder builder(store.path());
    const std::string zoe = builder.addMacnt(
        "", "zoe", settingsText({{"RealName", fullName}, {"Password", password}}),
        infoText("", {{"INBOX", "", "1", ""}, {drafts, "", "1", ""}, {drafts + "/Alt", "", "1", ""},
                      {"R&D", "", "1", ""}, {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e \xf0\x9f\x98\x80", "", "1", ""},
                      {"Gel&APY-scht", "", "1", ""}}));
    builder.addMboxFolder(zoe, "INBOX", oneMessage("inbox"));
    builder.addMboxFolder(zoe, drafts, oneMessage("drafts"));
    builder.addMboxFolder(zoe, drafts + "/Alt", oneMessage("old"));
    builder.addMboxFolder(zoe, "R&D", oneMessage("rd"));
    // A name the store already holds in its IMAP form keeps it.
    builder.addMboxFolder(zoe, "Gel&APY-scht", oneMessage("deleted"));
    builder.addMboxFolder(zoe, "\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e \xf0\x9f\x98\x80", oneMessage("cjk"));

    VantrelServer server;
    const ToolRun run = migrate(store.path(), work.path(), server);
    server.stop();
    const std::string log = logText(work.path());

    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_TRUE(log.ends_with("Result: migration successful\n")) << log;
    const VantrelDump dump = server.dump();
    const VantrelAccount* there = dump.account("zoe", "example.com");
    ASSERT_NE(there, nullptr) << log;
    EXPECT_EQ(there->fullName, fullName);
    EXPECT_EQ(there->password, password);
    EXPECT_EQ(folderNames(*there), (std::vector<std::string>{"INBOX", "Entw&APw-rfe", "Entw&APw-rfe/Alt", "Gel&APY-scht",
                                                             "R&-D", "&ZeVnLIqe- &2D3eAA-"}));
    for (const VantrelFolder& folder : there->folders) {
        ASSERT_EQ(folder.messages.size(), 1u) << folder.name;
    }
    const VantrelFolder* alt = there->folder("Entw&APw-rfe/Alt");
    ASSERT_NE(alt, nullptr);
    EXPECT_EQ(alt->messages.at(0).data, "Subject: old\r\n\r\nold\r\n");
}

TEST(EightBitTextRun, FolderNameThatIsNotUtf8IsReportedAndFailsTheRun) {
    TempDir store, work;
    StoreBuilder builder(store.path());
    const std::string latin1 = "Entw\xfcrfe";
    const std::string ann = builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}),
                                             infoText("", {{"INBOX", "", "1", ""}, {latin1, "", "1", ""}}));
    builder.addMboxFolder(ann, "INBOX", oneMessage("inbox"));
    builder.addMboxFolder(ann, latin1, oneMessage("drafts"));

    VantrelServer server;
    const ToolRun run = migrate(store.path(), work.path(), server);
    server.stop();
    const std::string log = logText(work.path());

    EXPECT_EQ(run.exitStatus, 1) << run.out;
    EXPECT_NE(log.find("Error: cannot create folder " + latin1 +
                       ": the folder name is not UTF-8 text, so it has no IMAP name\n"),
              std::string::npos)
        << log;
    EXPECT_TRUE(log.ends_with("Result: migration failed\n")) << log;
    const VantrelDump dump = server.dump();
    const VantrelAccount* there = dump.account("ann", "example.com");
    ASSERT_NE(there, nullptr);
    EXPECT_EQ(folderNames(*there), (std::vector<std::string>{"INBOX"}));
    EXPECT_EQ(there->folders[0].messages.size(), 1u);
}

// Alone and with appends in flight: the message with NUL sits between two
// that arrive.
TEST(EightBitTextRun, MessageHoldingNulIsReportedNotSentAltered) {
    for (const std::vector<std::string>& window : {std::vector<std::string>{}, {"-window", "8"}}) {
        SCOPED_TRACE(window.empty() ? "no window" : "window 8");
        TempDir store, work;
        StoreBuilder builder(store.path());
        MboxMessage before, withNul, after;
        before.data = "Subject: before\n\nbefore\n";
        withNul.data = std::string("Subject: nul\n\nbefore ") + '\0' + " after\n";
        withNul.uid = "2";
        after.data = "Subject: after\n\nafter\n";
        after.uid = "3";
        const std::string ann = builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}),
                                                 infoText("", {{"INBOX", "", "3", ""}, {"Next", "", "1", ""}}));
        builder.addMboxFolder(ann, "INBOX", mboxText({before, withNul, after}));
        builder.addMboxFolder(ann, "Next", oneMessage("next"));

        VantrelServer server;
        const ToolRun run = migrate(store.path(), work.path(), server, window);
        server.stop();
        const std::string log = logText(work.path());

        EXPECT_EQ(run.exitStatus, 1) << run.out;
        EXPECT_NE(log.find("Error: cannot migrate message nr.: 2\n"), std::string::npos) << log;
        EXPECT_TRUE(log.ends_with("Result: migration failed\n")) << log;
        const VantrelDump dump = server.dump();
        const VantrelAccount* there = dump.account("ann", "example.com");
        ASSERT_NE(there, nullptr);
        const VantrelFolder* inbox = there->folder("INBOX");
        ASSERT_NE(inbox, nullptr);
        std::vector<std::string> arrived;
        for (const VantrelMessage& message : inbox->messages) arrived.push_back(message.data);
        EXPECT_EQ(arrived, (std::vector<std::string>{"Subject: before\r\n\r\nbefore\r\n",
                                                     "Subject: after\r\n\r\nafter\r\n"}))
            << log;
        ASSERT_NE(there->folder("Next"), nullptr);
        EXPECT_EQ(there->folder("Next")->messages.size(), 1u);
    }
}

}  // namespace
