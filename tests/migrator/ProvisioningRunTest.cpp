#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fcntl.h>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Migrations by the built binary into the Vantrel test server where the
// server refuses accounts or folders, where store values cannot be sent, and
// where the run is killed: what fails, what goes on, and where the passwords
// end up.
namespace {

using namespace tarmig::testing;

std::string settings(const std::string& password) {
    return password.empty() ? settingsText({}) : settingsText({{"Password", password}});
}

MboxMessage message(const std::string& subject) {
    MboxMessage m;
    m.data = "Subject: " + subject + "\n\n" + subject + "\n";
    return m;
}

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

std::size_t messagesIn(const VantrelDump& dump, const std::string& user, const std::string& folder) {
    const VantrelAccount* account = dump.account(user, "example.com");
    const VantrelFolder* found = account ? account->folder(folder) : nullptr;
    return found ? found->messages.size() : 0;
}

class ProvisioningRun : public ::testing::Test {
protected:
    TempDir store, work;
    StoreBuilder builder{store.path()};

    std::vector<std::string> arguments(const VantrelServer& server) const {
        return {"-path",   store.path(), "-primaryDomain", "example.com", "-migrate", "-server",
                "127.0.0.1", "-port",    std::to_string(server.port()), "-password", "master"};
    }
    ToolRun migrate(const VantrelServer& server) { return runTool(arguments(server), work.path()); }
    std::string fileText(const std::string& suffix) {
        auto files = filesMatching(work.path(), "tarmig_", suffix);
        return files.size() == 1 ? readFile(files[0]) : "";
    }
    void addInbox(const std::string& name, const std::string& password, int messages) {
        std::string account = builder.addMacnt("", name, settings(password),
                                               infoText("1", {{"INBOX", "", std::to_string(messages), ""}}));
        std::vector<MboxMessage> stored;
        for (int i = 1; i <= messages; ++i) stored.push_back(message(name + std::to_string(i)));
        builder.addMboxFolder(account, "INBOX", mboxText(stored));
    }
};

TEST_F(ProvisioningRun, AccountRefusedForAnotherReasonFailsAndIsNotTakenForAnExistingOne) {
    addInbox("ann", "pw", 1);
    addInbox("bob", "pw", 1);
    addInbox("carol", "pw", 1);
    VantrelServer server({.arguments = {"--refuse-createuser", "bob@example.com", "--account",
                                        "carol@example.com:old"}});
    ToolRun run = migrate(server);
    server.stop();
    VantrelDump dump = server.dump();

    EXPECT_EQ(run.exitStatus, 1);
    const std::string refused = "Error: cannot create user <bob@example.com>: Licence limit reached\n"
                                "Error: cannot migrate mailbox <bob>\n";
    EXPECT_NE(run.out.find(refused), std::string::npos) << run.out;
    std::string log = fileText(".log");
    EXPECT_NE(log.find(refused), std::string::npos) << log;
    EXPECT_EQ(dump.account("bob", "example.com"), nullptr);
    // The one existing account is still recognised as such, and the next account goes on.
    std::string pass = fileText(".pass");
    EXPECT_NE(pass.find("<ann@example.com>, password: \"pw\"\n"), std::string::npos);
    EXPECT_NE(pass.find("<carol@example.com> already exist, hold current password\n"), std::string::npos);
    EXPECT_EQ(pass.find("bob"), std::string::npos) << pass;
    EXPECT_EQ(messagesIn(dump, "ann", "INBOX"), 1u);
    EXPECT_EQ(messagesIn(dump, "carol", "INBOX"), 0u);
    EXPECT_NE(log.find("Info: accounts migrated: 1, skipped (already existing): 1, failed: 1\n"), std::string::npos);
    EXPECT_TRUE(log.ends_with("Result: migration failed\n"));
}

TEST_F(ProvisioningRun, RefusedFolderFailsWithEverythingBelowItAndTheRunGoesOn) {
    std::string ann = builder.addMacnt("", "ann", settings("pw"),
                                       infoText("1", {{"INBOX", "", "1", ""},
                                                      {"Projects", "", "1", ""},
                                                      {"Projects/2004", "", "1", ""},
                                                      {"Work", "", "1", ""}}));
    for (const char* folder : {"INBOX", "Projects", "Projects/2004", "Work"})
        builder.addMboxFolder(ann, folder, mboxText({message(folder)}));
    addInbox("bob", "pw", 1);
    VantrelServer server({.arguments = {"--refuse-create", "Projects"}});
    ToolRun run = migrate(server);
    server.stop();
    VantrelDump dump = server.dump();

    EXPECT_EQ(run.exitStatus, 1);
    std::string log = fileText(".log");
    EXPECT_NE(log.find("Error: cannot create folder Projects: Cannot create mailbox\n"
                       "Error: cannot migrate folder \"Projects\"\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Error: cannot create folder Projects/2004: the server refused to create Projects\n"
                       "Error: cannot migrate folder \"Projects/2004\"\n"),
              std::string::npos);
    EXPECT_NE(run.out.find("Error: cannot migrate folder \"Projects/2004\"\n"), std::string::npos);
    EXPECT_EQ(messagesIn(dump, "ann", "INBOX"), 1u);
    EXPECT_EQ(messagesIn(dump, "ann", "Work"), 1u);
    EXPECT_EQ(dump.account("ann", "example.com")->folder("Projects/2004"), nullptr);
    EXPECT_EQ(messagesIn(dump, "bob", "INBOX"), 1u);
    EXPECT_NE(log.find("Info: accounts migrated: 1, skipped (already existing): 0, failed: 1\n"
                       "Info: folders migrated: 3, failed: 2\n"),
              std::string::npos);
    EXPECT_TRUE(log.ends_with("Result: migration failed\n"));
}

TEST_F(ProvisioningRun, ByeAnsweringCreateStillEndsTheRun) {
    std::string ann = builder.addMacnt("", "ann", settings("pw"), infoText("1", {{"Work", "", "1", ""}}));
    builder.addMboxFolder(ann, "Work", mboxText({message("w")}));
    builder.addMacnt("other.org", "bob", settings("pw"), infoText("1", {}));  // after the primary domain
    VantrelServer server({.arguments = {"--bye-after", "0", "--fault-commands", "CREATE"}});
    ToolRun run = migrate(server);
    server.stop();
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(server.dump().account("bob", "other.org"), nullptr);
    std::string log = fileText(".log");
    EXPECT_NE(log.find("Network error: cannot create folder\n\nError: cannot create folder\n"), std::string::npos)
        << log;
}

TEST_F(ProvisioningRun, ValuesHoldingNulFailTheirAccountOrFolderOnly) {
    // "\000" is the settings format's decimal escape of a NUL byte.
    builder.addMacnt("", "ann", "{Password = \"p\\000w\"; }\n", infoText("1", {{"INBOX", "", "0", ""}}));
    builder.addMacnt("", "bob", "{RealName = \"Bob\\000\"; }\n", infoText("1", {{"INBOX", "", "0", ""}}));
    std::string carol = builder.addMacnt("", "carol", settings("pw"),
                                         "{\"Bad\\000Name\" = {Messages = #1; }; INBOX = {Messages = #1; }; }\n");
    builder.addMboxFolder(carol, "INBOX", mboxText({message("c")}));
    VantrelServer server;
    ToolRun run = migrate(server);
    server.stop();
    VantrelDump dump = server.dump();

    EXPECT_EQ(run.exitStatus, 1);
    std::string log = fileText(".log");
    EXPECT_NE(log.find("Error: cannot create user <ann@example.com>: the password holds a NUL byte\n"
                       "Error: cannot migrate mailbox <ann>\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Error: cannot create user <bob@example.com>: the full name holds a NUL byte\n"),
              std::string::npos);
    EXPECT_NE(log.find("Error: cannot create folder \"Bad\\x00Name\": the name holds a NUL byte\n"
                       "Error: cannot migrate folder \"Bad\\x00Name\"\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(dump.account("ann", "example.com"), nullptr);
    EXPECT_EQ(dump.account("bob", "example.com"), nullptr);
    ASSERT_NE(dump.account("carol", "example.com"), nullptr);
    EXPECT_EQ(dump.account("carol", "example.com")->folders.size(), 1u);  // INBOX only
    EXPECT_EQ(messagesIn(dump, "carol", "INBOX"), 1u);
    EXPECT_NE(log.find("Info: accounts migrated: 0, skipped (already existing): 0, failed: 3\n"), std::string::npos);
    EXPECT_EQ(fileText(".pass"), "<carol@example.com>, password: \"pw\"\n");
}

TEST_F(ProvisioningRun, NoAccountIsCreatedWhenThePasswordReportCannotBeWritten) {
    addInbox("ann", "", 1);
    VantrelServer server;
    std::string gone = work.path() + "/gone";
    makeDirs(gone);
    // The run's directory is removed before it starts: the log falls back to
    // standard error, and the report has nowhere to go.
    ToolRun run = runTool(arguments(server), gone, true);
    server.stop();
    EXPECT_EQ(run.exitStatus, 1);
    EXPECT_TRUE(server.dump().accounts.empty());
    EXPECT_TRUE(std::regex_search(run.err, std::regex("\nError: cannot write the password report "
                                                      "\\./tarmig_[-_0-9]+\\.pass: No such file or directory\n")))
        << run.err;
    EXPECT_NE(run.err.find("Result: migration failed\n"), std::string::npos);
}


TEST_F(ProvisioningRun, KilledRunLeavesThePasswordOfEveryAccountItCreatedAndTheLogNone) {
    addInbox("ann", "ann-secret", 1);
    addInbox("bob", "", 1);
    addInbox("carol", "", 1);
    // The third append (the last account's message) gets no answer: the tool waits in it.
    VantrelServer server({.arguments = {"--stall-after", "2", "--fault-commands", "APPEND,X-APPEND"}});
    pid_t tool = startTool(arguments(server), work.path());
    ASSERT_GT(tool, 0);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (occurrences(fileText(".log"), "\"INBOX\", messages: 1\n") < 3 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the append goes out
    kill(tool, SIGKILL);
    int status = 0;
    waitpid(tool, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the tool ended before it was killed";
    VantrelDump dump = server.dump();
    server.stop();

    std::string pass = fileText(".pass");
    ASSERT_EQ(dump.accounts.size(), 3u);
    for (const VantrelAccount& account : dump.accounts) {
        std::string line = "<" + account.name + "@example.com>, password: \"" + account.password + "\"";
        EXPECT_NE(pass.find(line), std::string::npos) << line << "\nnot in:\n" << pass;
    }
    EXPECT_EQ(occurrences(pass, "(generated)\n"), 2u);
    EXPECT_EQ(dump.stats.appends, 2u);  // killed inside the third append
    struct stat info {};
    ASSERT_EQ(stat(filesMatching(work.path(), "tarmig_", ".pass").at(0).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::string log = fileText(".log");
    EXPECT_NE(log.find("   Info: created user <ann@example.com>, password: \"******\"\n"), std::string::npos) << log;
    for (const VantrelAccount& account : dump.accounts)
        EXPECT_EQ(log.find(account.password), std::string::npos) << account.password;
}

}  // namespace
