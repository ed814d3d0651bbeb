#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "migrator/AccountJob.h"
#include "migrator/SharedRun.h"
#include "store/CGException.h"
#include "store/Folder.h"
#include "store/Mailbox.h"
#include "support/ScriptedPeer.h"
#include "support/StoreBuilder.h"

// Store values and server answers with line breaks, against a scripted
// server: the wire carries the values as they are, while the engine's lines,
// the password report and the texts of its exceptions show them escaped.
namespace {

using tarmig::testing::readFile;
using tarmig::testing::ScriptedPeer;
using tarmig::testing::TempDir;

class ShownValuesSession : public ::testing::Test {
protected:
    std::ostringstream log, storeLog;
    tarmig::SharedRun run{log};
    tarmig::JobSettings settings;
    std::unique_ptr<tarmig::AccountJob> job;
    TempDir dir;
    std::string reportPath = dir.path() + "/run.pass";
    tarmig::Mailbox mailbox{storeLog};
    ScriptedPeer peer;

    void SetUp() override {
        run.passwordReport.setPath(reportPath);
        run.output.setQuiet(true);
        mailbox.username = "ann";
        mailbox.domain = "example.com";
        mailbox.password = "pw";
        peer.send("* OK Vantrel ready\r\n").expect("X-MASTERAUTH\r\n").send("+ <1.2@vantrel>\r\n").expect("\r\n");
        peer.send("T0 OK in\r\n");
    }
    tarmig::AccountJob& connect() {
        peer.start();
        settings.server = "127.0.0.1";
        settings.port = static_cast<int>(peer.port());
        settings.masterPassword = "master";
        settings.timeoutSeconds = 2;
        job = std::make_unique<tarmig::AccountJob>(settings, run, false);
        job->connect(false);
        return *job;
    }
};

TEST_F(ShownValuesSession, CreatedAccountTakesOneReportLineWithItsNameAndPasswordEscaped) {
    mailbox.username = "ann\nResult: x";
    mailbox.password = "p\rw";
    peer.expect("T1 X-CREATEUSER").expect("p\rw").expect("\r\n").send("T1 OK created\r\n");
    peer.expect("T2 X-SETUSER").expect("@example.com\r\n").send("T2 OK switched\r\n");
    connect();
    EXPECT_TRUE(job->setUser(mailbox));
    EXPECT_EQ(peer.wait(), "");

    EXPECT_NE(peer.received().find("ann\nResult: x"), std::string::npos) << "sent as stored";
    EXPECT_EQ(log.str(), "   Info: created user <ann\\nResult: x@example.com>, password: \"******\"\n");
    EXPECT_EQ(readFile(reportPath), "<ann\\nResult: x@example.com>, password: \"p\\rw\" (shown with escapes)\n");
}

TEST_F(ShownValuesSession, RefusedFolderShowsItsNameAndTheServersAnswerEscaped) {
    peer.expect("X-CREATEUSER").expect("\r\n").send("T1 OK created\r\n");
    peer.expect("T2 X-SETUSER").expect("\r\n").send("T2 OK switched\r\n");
    peer.expect("T3 SELECT \"Work&AAo-Done\"\r\n").send("T3 NO no such\r\n");
    peer.expect("T4 CREATE ").expect("\"Work&AAo-Done\"\r\n").send("T4 NO Not\rResult: allowed\r\n");
    connect();
    ASSERT_TRUE(job->setUser(mailbox));
    tarmig::Folder work(storeLog), below(storeLog);
    work.initialize("Work\nDone", "/nowhere", tarmig::MailboxMacnt);
    below.initialize("Work\nDone/2004", "/nowhere", tarmig::MailboxMacnt);
    std::string failures;
    for (tarmig::Folder* folder : {&work, &below}) {
        try {
            job->createFolder(*folder);
        } catch (const tarmig::CGStoreException& e) {
            failures += std::string(e.what()) + "\n";
        }
    }
    EXPECT_EQ(peer.wait(), "");

    EXPECT_EQ(failures, "cannot create folder Work\\nDone\ncannot create folder Work\\nDone/2004\n");
    EXPECT_NE(log.str().find("Error: cannot create folder Work\\nDone: Not\\rResult: allowed\n"
                             "Error: cannot create folder Work\\nDone/2004: the server refused to create "
                             "Work\\nDone\n"),
              std::string::npos)
        << log.str();
}

}  // namespace
