#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "imap/SimpleImapClient.h"
#include "imap/TargetMessage.h"
#include "migrator/FolderReconciliation.h"
#include "store/Folder.h"
#include "store/Message.h"
#include "store/MessageId.h"
#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Messages migrated by the built binary are recognised on the target by
// their keys: a store read against what the Vantrel test server holds finds
// nothing to send after a whole run, and exactly the rest after a run the
// server cut short.
namespace {

using namespace tarmig;
using namespace tarmig::testing;
using Result = SimpleImapClient::ImapClientResult;

const std::vector<std::string> folderNames = {"INBOX", "Archive"};

class ReconciliationKeysRun : public ::testing::Test {
protected:
    void SetUp() override {
        account = builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}),
                                   infoText("", {{"INBOX", "", "4", ""}, {"Archive", "", "2", ""}}));
        const std::string folded = "Message-ID:\n <fold@x>\nSubject: a\n\nbody\n";
        builder.addMboxFolder(account, "INBOX",
                              mboxText({storedMessage(folded, "S", "20-02-2004_12:34:56_"),
                                        // The same message again: both copies must arrive.
                                        storedMessage(folded, "", "20-02-2004_12:34:56_"),
                                        // No date: the server gives it its own time.
                                        storedMessage("Subject: undated\n\nx\n", "F", "garbage"),
                                        storedMessage("message-id: <big@x>\n\n" + std::string(200000, 'b') + "\nend\n",
                                               "AF", "Fri Feb 20 12:34:56 2004")}));
        const std::string archive = builder.addMdirFolder(account, "Archive");
        builder.addMdirMessage(archive, "D", "20040305081910", "Message-Id: <m1@x>\n\none\n");
        builder.addMdirMessage(archive, "", "20040305081911", "Message-Id: <m2@x>\n\ntwo\n");
    }

    void migrate(const VantrelServer& server) {
        runTool({"-path", store.path(), "-primaryDomain", "example.com", "-migrate", "-server", "127.0.0.1",
                 "-port", std::to_string(server.port()), "-password", server.masterPassword()},
                work.path());
    }

    // The store's messages of one folder as the tool sends them.
    std::vector<StoreMessageState> storeState(const std::string& name) {
        std::ostringstream output;
        Folder folder(output);
        folder.initialize(name, account, MailboxMacnt);
        folder.openMessagesFile("ann");
        Message message(folder);
        std::vector<StoreMessageState> state;
        for (bool more = folder.getFirstMessage(message, true); more; more = folder.getNextMessage(message, true)) {
            const auto size = static_cast<std::uint64_t>(message.getFixedSize());
            state.push_back({storeMessageKey(message.getDate(), size, readMessageId(message)), message.getFlags()});
        }
        folder.closeMessagesFile();
        return state;
    }

    FolderReconciliation plan(SimpleImapClient& client, const std::string& name, bool forFlags = false) {
        std::vector<TargetMessage> target;
        const Result read = forFlags ? client.selectKeys(name, target) : client.examineKeys(name, target);
        EXPECT_EQ(Result::Ok, read) << name;
        return reconcileFolder(storeState(name), target);
    }

    void connect(SimpleImapClient& client, const VantrelServer& server) {
        ASSERT_EQ(Result::Ok, client.connect("127.0.0.1", server.port(), server.masterPassword(), 0));
        ASSERT_EQ(Result::Ok, client.setUser("ann", "example.com"));
    }

    TempDir store, work;
    StoreBuilder builder{store.path()};
    std::string account;
};

TEST_F(ReconciliationKeysRun, AfterAWholeRunNothingIsMissingAndChangedFlagsAreFound) {
    VantrelServer server;
    migrate(server);
    SimpleImapClient client(10);
    connect(client, server);
    for (const std::string& name : folderNames) {
        SCOPED_TRACE(name);
        FolderReconciliation folder = plan(client, name);
        EXPECT_TRUE(folder.toSend.empty());
        EXPECT_TRUE(folder.flagUpdates.empty());
        EXPECT_EQ(folder.alreadyPresent, storeState(name).size());
        EXPECT_EQ(folder.notInStore, 0u);
    }

    // Flags changed on the target are set back to the store's, once.
    std::vector<TargetMessage> inbox;
    ASSERT_EQ(Result::Ok, client.selectKeys("INBOX", inbox));
    ASSERT_EQ(4u, inbox.size());
    ASSERT_EQ(Result::Ok, client.storeFlags(inbox[0].uid, {"\\Deleted", "$Label1"}));
    ASSERT_EQ(Result::Ok, client.storeFlags(inbox[1].uid, {"\\Seen"}));
    FolderReconciliation changed = plan(client, "INBOX", true);
    ASSERT_EQ(2u, changed.flagUpdates.size());
    EXPECT_EQ(inbox[0].uid, changed.flagUpdates[0].uid);
    EXPECT_EQ((std::vector<std::string>{"\\Seen", "$Label1"}), changed.flagUpdates[0].flags);
    EXPECT_EQ(inbox[1].uid, changed.flagUpdates[1].uid);
    EXPECT_TRUE(changed.flagUpdates[1].flags.empty());
    for (const FlagUpdate& update : changed.flagUpdates)
        EXPECT_EQ(Result::Ok, client.storeFlags(update.uid, update.flags));
    EXPECT_TRUE(plan(client, "INBOX").flagUpdates.empty());
    client.disconnect(true);
}

// The server stores the Nth append and dies before it answers; started
// again from what it held, the plan sends exactly the messages it lacks.
TEST_F(ReconciliationKeysRun, AfterARunCutShortAtEveryAppendTheRestIsSentOnce) {
    const std::size_t total = storeState("INBOX").size() + storeState("Archive").size();
    for (std::size_t stored = 1; stored < total; ++stored) {
        SCOPED_TRACE("died after append " + std::to_string(stored));
        VantrelServer dying({.arguments = {"--die-after-appends", std::to_string(stored)}});
        migrate(dying);
        dying.stop();
        VantrelServer restarted({.arguments = {"--load", dying.dumpFile()}});
        SimpleImapClient client(10);
        connect(client, restarted);
        std::size_t present = 0, toSend = 0;
        for (const std::string& name : folderNames) {
            std::vector<TargetMessage> target;
            const Result read = client.examineKeys(name, target);
            if (read == Result::SelectFailed) {
                toSend += storeState(name).size();  // the run ended before the folder was made
                continue;
            }
            ASSERT_EQ(Result::Ok, read);
            FolderReconciliation folder = reconcileFolder(storeState(name), target);
            EXPECT_EQ(folder.notInStore, 0u) << name;
            EXPECT_TRUE(folder.flagUpdates.empty()) << name;
            // What arrived is a prefix of the folder, so what is left is its tail.
            for (std::size_t i = 0; i < folder.toSend.size(); ++i)
                EXPECT_EQ(folder.alreadyPresent + i, folder.toSend[i]) << name;
            present += folder.alreadyPresent;
            toSend += folder.toSend.size();
        }
        EXPECT_EQ(stored, present);
        EXPECT_EQ(total - stored, toSend);
        client.disconnect(true);
    }
}

}  // namespace
