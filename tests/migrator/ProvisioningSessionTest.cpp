#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <sstream>
#include <string>

#include "migrator/AccountJob.h"
#include "migrator/SharedRun.h"
#include "store/CGException.h"
#include "store/Folder.h"
#include "store/Mailbox.h"
#include "support/ScriptedPeer.h"
#include "support/StoreBuilder.h"

// Account creation and folder creation refused by a scripted server, checked
// on the wire: what the engine asks next and what it leaves alone. Store
// values and server answers with line breaks go on the wire as they are,
// while the engine's lines, the password report and its exception texts show
// them escaped.
namespace {

using tarmig::testing::readFile;
using tarmig::testing::ScriptedPeer;
using tarmig::testing::TempDir;

class ProvisioningSession : public ::testing::Test {
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
    tarmig::AccountJob& connect(bool force = false) {
        peer.start();
        settings.server = "127.0.0.1";
        settings.port = static_cast<int>(peer.port());
        settings.masterPassword = "master";
        settings.force = force;
        settings.timeoutSeconds = 2;
        job = std::make_unique<tarmig::AccountJob>(settings, run, false);
        job->connect(false);
        return *job;
    }
    tarmig::Folder folder(const std::string& name) {
        tarmig::Folder f(storeLog);
        f.initialize(name, "/nowhere", tarmig::MailboxMacnt);
        return f;
    }
};

TEST_F(ProvisioningSession, RefusedCreationOfAnUnknownAccountFailsItWithTheServersReason) {
    peer.expect("X-CREATEUSER").expect("\r\n").send("T1 NO Licence limit reached\r\n");
    peer.expect("T2 X-SETUSER \"ann@example.com\"\r\n").send("T2 NO Unknown account\r\n");
    connect(true);
    EXPECT_THROW(job->setUser(mailbox), tarmig::CGStoreException);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(log.str(), "Error: cannot create user <ann@example.com>: Licence limit reached\n");
    EXPECT_EQ(readFile(reportPath), "");  // created, yet nothing to report
}

TEST_F(ProvisioningSession, RefusedCreationOfAnExistingAccountGoesOnInItWithoutSwitchingTwice) {
    peer.expect("X-CREATEUSER").expect("\r\n").send("T1 NO Account already exists\r\n");
    peer.expect("T2 X-SETUSER \"ann@example.com\"\r\n").send("T2 OK switched\r\n");
    peer.expect("T3 SELECT \"Work\"\r\n").send("T3 OK selected\r\n");
    connect(true);
    EXPECT_TRUE(job->setUser(mailbox));
    tarmig::Folder work = folder("Work");
    job->createFolder(work);
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(readFile(reportPath), "<ann@example.com> already exist, hold current password\n");
}

TEST_F(ProvisioningSession, RefusedFolderFailsItAndWhatIsBelowItWithoutAskingAgain) {
    peer.expect("X-CREATEUSER").expect("\r\n").send("T1 OK created\r\n");
    peer.expect("T2 X-SETUSER").expect("\r\n").send("T2 OK switched\r\n");
    peer.expect("T3 SELECT \"Projects\"\r\n").send("T3 NO no such\r\n");
    peer.expect("T4 CREATE ").expect("\"Projects\"\r\n").send("T4 NO Name not allowed\r\n");
    peer.expect("T5 SELECT \"ProjectsOld\"\r\n").send("T5 OK selected\r\n");
    connect();
    ASSERT_TRUE(job->setUser(mailbox));
    tarmig::Folder projects = folder("Projects"), below = folder("Projects/2004"), alike = folder("ProjectsOld");
    EXPECT_THROW(job->createFolder(projects), tarmig::CGStoreException);
    EXPECT_THROW(job->createFolder(below), tarmig::CGStoreException);
    job->createFolder(alike);  // a name that only starts alike is not below it
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received().find("Projects/2004"), std::string::npos);
    EXPECT_NE(log.str().find("Error: cannot create folder Projects: Name not allowed\n"
                             "Error: cannot create folder Projects/2004: the server refused to create Projects\n"),
              std::string::npos)
        << log.str();
}

TEST_F(ProvisioningSession, GeneratedPasswordStaysInTheReportWhenTheCreationIsNeverAnswered) {
    mailbox.password.clear();
    peer.expect("X-CREATEUSER").expect("\r\n").closeConnection();
    connect();
    EXPECT_THROW(job->setUser(mailbox), tarmig::CGNetworkException);
    EXPECT_EQ(peer.wait(), "");
    std::smatch sent;
    const std::string wire = peer.received();
    ASSERT_TRUE(std::regex_search(wire, sent, std::regex("PASSWORD \"([A-Za-z0-9]{6})\"")));
    EXPECT_EQ(readFile(reportPath), "<ann@example.com>, password: \"" + sent[1].str() + "\" (generated)\n");
    EXPECT_NE(log.str().find("   Info: the password report keeps the generated password of <ann@example.com>: the "
                             "account may have been created\nNetwork error: cannot create user\n"),
              std::string::npos)
        << log.str();
}

TEST_F(ProvisioningSession, GeneratedPasswordOfAnAccountThatExistsIsTakenBack) {
    mailbox.password.clear();
    peer.expect("X-CREATEUSER").expect("\r\n").send("T1 NO Account already exists\r\n");
    peer.expect("T2 X-SETUSER \"ann@example.com\"\r\n").send("T2 OK switched\r\n");
    connect(true);
    EXPECT_TRUE(job->setUser(mailbox));
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(readFile(reportPath), "<ann@example.com> already exist, hold current password\n");
}

TEST_F(ProvisioningSession, NoAccountIsCreatedWithoutAPasswordReportToRecordIt) {
    run.passwordReport.setPath(dir.path() + "/missing/run.pass");
    connect();
    try {
        job->setUser(mailbox);
        FAIL() << "no exception";
    } catch (const tarmig::CGNetworkException& e) {
        EXPECT_EQ(std::string(e.what()),
                  "cannot write the password report " + dir.path() + "/missing/run.pass: No such file or directory");
    }
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received().find("X-CREATEUSER"), std::string::npos);
}

TEST_F(ProvisioningSession, CreatedAccountTakesOneReportLineWithItsNameAndPasswordEscaped) {
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

TEST_F(ProvisioningSession, RefusedFolderShowsItsNameAndTheServersAnswerEscaped) {
    peer.expect("X-CREATEUSER").expect("\r\n").send("T1 OK created\r\n");
    peer.expect("T2 X-SETUSER").expect("\r\n").send("T2 OK switched\r\n");
    peer.expect("T3 SELECT \"Work&AAo-Done\"\r\n").send("T3 NO no such\r\n");
    peer.expect("T4 CREATE ").expect("\"Work&AAo-Done\"\r\n").send("T4 NO Not\rResult: allowed\r\n");
    connect();
    ASSERT_TRUE(job->setUser(mailbox));
    tarmig::Folder work = folder("Work\nDone"), below = folder("Work\nDone/2004");
    std::string failures;
    for (tarmig::Folder* each : {&work, &below}) {
        try {
            job->createFolder(*each);
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
