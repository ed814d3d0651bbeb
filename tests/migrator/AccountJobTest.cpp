#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "migrator/AccountJob.h"
#include "store/CGException.h"
#include "migrator/SharedRun.h"
#include "store/Mailbox.h"
#include "support/ScriptedPeer.h"
#include "support/StoreBuilder.h"

// One account job against a scripted server: how it ends when the run stops
// around it, and what it reports then.
namespace {

using tarmig::testing::ScriptedPeer;
using tarmig::testing::TempDir;

class AccountJobStop : public ::testing::Test {
protected:
    TempDir store, work;
    tarmig::testing::StoreBuilder builder{store.path()};
    std::ostringstream log, report, storeLog;
    tarmig::SharedRun run{log};
    tarmig::JobSettings settings;
    tarmig::Mailbox mailbox{storeLog};

    void SetUp() override {
        run.output.setQuiet(true);
        run.passwordReport.setPath(work.path() + "/run.pass");
        run.report.setStream(&report);
        std::vector<tarmig::testing::MboxMessage> messages(3);
        for (int i = 0; i < 3; ++i) messages[i].data = "Subject: " + std::to_string(i + 1) + "\n\nx\n";
        std::string ann = builder.addMacnt("", "ann", tarmig::testing::settingsText({{"Password", "pw"}}),
                                           tarmig::testing::infoText("1", {{"INBOX", "", "3", ""}}));
        builder.addMboxFolder(ann, "INBOX", tarmig::testing::mboxText(messages));
        mailbox.initialize("ann", "example.com", builder.domainDir(""), "ann", tarmig::MailboxMacnt);
        settings.server = "127.0.0.1";
        settings.masterPassword = "master";
        settings.timeoutSeconds = 2;
    }
    nlohmann::json reportLine() { return nlohmann::json::parse(report.str()); }
};

TEST_F(AccountJobStop, RunStoppingBeforeTheFirstFolderEndsTheAccountWithItsLineAndLogsOut) {
    ScriptedPeer peer;
    peer.send("* OK Vantrel ready\r\n").expect("X-MASTERAUTH\r\n").send("+ <1.2@vantrel>\r\n").expect("\r\n");
    peer.send("T0 OK in\r\n")
        .expect("T1 X-CREATEUSER")
        .expect("\r\n")
        .send("T1 OK created\r\n")
        .expect("T2 X-SETUSER \"ann@example.com\"\r\n")
        .send("T2 OK switched\r\n")
        .expect("T3 X-CHECKVERSION\r\n")
        .send("T3 BAD unknown\r\n")
        .expect("T4 LOGOUT\r\n")
        .send("* BYE\r\nT4 OK bye\r\n");
    peer.start();
    settings.port = static_cast<int>(peer.port());
    tarmig::AccountJob job(settings, run, true);
    tarmig::Mailbox account(mailbox, job.log());
    run.stopping = true;  // another job's account ended the run meanwhile
    job.run(account);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received().find("SELECT"), std::string::npos);
    const std::string text = log.str();
    EXPECT_NE(text.find(" + mailbox <ann>, size: 1B, time: "), std::string::npos) << text;
    EXPECT_TRUE(text.ends_with("Error: account <ann@example.com> not finished: the run stopped on a network error\n"))
        << text;
    const nlohmann::json line = reportLine();
    EXPECT_EQ(line["status"], "failed");
    EXPECT_EQ(line["errors"].back(),
              "Error: account <ann@example.com> not finished: the run stopped on a network error");
    EXPECT_EQ(run.totals.snapshot().accountsFailed, 1);
    EXPECT_FALSE(run.totals.succeeded());
}

TEST_F(AccountJobStop, RunStoppingMidFolderEndsAtTheNextMessageAfterTheAnswersInFlight) {
    ScriptedPeer peer;
    peer.send("* OK [CAPABILITY IMAP4rev1 LITERAL+] Vantrel ready\r\n")
        .expect("X-MASTERAUTH\r\n")
        .send("+ <1.2@vantrel>\r\n")
        .expect("\r\n")
        .send("T0 OK in\r\n")
        .expect("T1 X-CREATEUSER")
        .expect("\r\n")
        .send("T1 OK created\r\n")
        .expect("T2 X-SETUSER \"ann@example.com\"\r\n")
        .send("T2 OK switched\r\n")
        .expect("T3 X-CHECKVERSION\r\n")
        .send("T3 BAD unknown\r\n")
        .expect("T4 SELECT \"INBOX\"\r\n")
        .send("T4 OK selected\r\n")
        .expect("Subject: 1\r\n\r\nx\r\n")
        .expect("Subject: 2\r\n\r\nx\r\n")
        // Both appends are in flight when the run stops; their answers come after.
        .stall(std::chrono::seconds(2))
        .send("T5 OK appended\r\nT6 OK appended\r\n")
        .expect("T7 LOGOUT\r\n")
        .send("* BYE\r\nT7 OK bye\r\n");
    peer.start();
    settings.port = static_cast<int>(peer.port());
    settings.appendWindow = 2;
    settings.timeoutSeconds = 10;
    tarmig::AccountJob job(settings, run, true);
    tarmig::Mailbox account(mailbox, job.log());
    std::string failure;
    std::thread worker([&] {
        try {
            job.run(account);
        } catch (const std::exception& e) {
            failure = e.what();
        }
    });
    // Waits for the second append (a script that fails before it lets go after ten seconds).
    for (int i = 0; i < 2000 && peer.received().find("Subject: 2") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    run.stopping = true;
    worker.join();
    EXPECT_EQ(failure, "");
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received().find("Subject: 3"), std::string::npos);
    const nlohmann::json line = reportLine();
    EXPECT_EQ(line["status"], "failed");
    EXPECT_EQ(line["messages"]["appended"], 2);
    EXPECT_EQ(line["messages"]["failed"], 0);
    EXPECT_EQ(line["errors"].size(), 1u);
    EXPECT_TRUE(log.str().ends_with("Error: account <ann@example.com> not finished: the run stopped on a network "
                                    "error\n"))
        << log.str();
}

TEST_F(AccountJobStop, AccountNotBegunIsReportedWithoutAConnection) {
    settings.port = static_cast<int>(ScriptedPeer::closedPort());
    tarmig::AccountJob job(settings, run, true);
    tarmig::Mailbox account(mailbox, job.log());
    job.abandon(account);
    EXPECT_TRUE(log.str().starts_with("\ndomain (example.com)\n + mailbox <ann>, size: 1B, time: ")) << log.str();
    EXPECT_TRUE(log.str().ends_with("\nError: account <ann@example.com> not finished: the run stopped on a network "
                                    "error\n"));
    EXPECT_EQ(reportLine()["status"], "failed");
    EXPECT_EQ(reportLine()["account"], "ann");
    EXPECT_EQ(run.totals.snapshot().accountsFailed, 1);
}

TEST_F(AccountJobStop, HeldLinesReachTheLogOnlyWhenTheAccountEnds) {
    // A server that refuses the master login ends the run; the account's
    // lines, the store reader's among them, still arrive in one piece.
    ScriptedPeer peer;
    peer.send("* OK Vantrel ready\r\n").expect("X-MASTERAUTH\r\n").send("+ <1.2@vantrel>\r\n").expect("\r\n");
    peer.send("T0 NO wrong\r\n");
    peer.start();
    settings.port = static_cast<int>(peer.port());
    tarmig::AccountJob job(settings, run, true);
    tarmig::Mailbox account(mailbox, job.log());
    account.output << "   Info: a store line\n";
    EXPECT_EQ(log.str(), "");
    EXPECT_THROW(job.run(account), tarmig::CGNetworkException);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_TRUE(log.str().starts_with("\ndomain (example.com)\n   Info: a store line\n + mailbox <ann>")) << log.str();
    EXPECT_TRUE(log.str().ends_with("Error: problem with authentication to Vantrel\n")) << log.str();
    EXPECT_EQ(reportLine()["errors"].back(), "Error: problem with authentication to Vantrel");
}

}  // namespace
