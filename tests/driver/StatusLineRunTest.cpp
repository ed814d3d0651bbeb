#include <gtest/gtest.h>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/TerminalReader.h"
#include "support/VantrelServer.h"

// A migration watched at a terminal: the built binary runs under a
// pseudo-terminal and keeps a status line for the whole run below its lines.
namespace {

using namespace tarmig::testing;

const std::string erase = "\r\033[K";

class StatusLineRun : public ::testing::Test {
protected:
    TempDir store, work;
    StoreBuilder builder{store.path()};

    void SetUp() override {
        std::vector<MboxMessage> inbox;
        for (int n = 1; n <= 40; ++n) inbox.push_back({"Subject: " + std::to_string(n) + "\n\nbody\n", "S", "1"});
        // The info files' sizes give the total: 2,000 and 1,000 bytes.
        for (const char* name : {"ann", "bob"}) {
            const std::string size = name[0] == 'a' ? "2000" : "1000";
            const std::string dir = builder.addMacnt("", name, settingsText({{"Password", "pw"}}),
                                                     infoText(size, {{"INBOX", "", "40", ""}}));
            builder.addMboxFolder(dir, "INBOX", mboxText(inbox));
        }
    }

    std::vector<std::string> arguments(const VantrelServer& server, const std::vector<std::string>& extra) {
        std::vector<std::string> args{"-path", store.path(), "-primaryDomain", "example.com", "-migrate",
                                      "-server", "127.0.0.1", "-port", std::to_string(server.port()),
                                      "-password", "master"};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    // The run at a terminal of `columns` columns: what it showed, and its exit status.
    std::pair<std::string, int> atTerminal(const std::vector<std::string>& args, unsigned short columns) {
        std::vector<std::string> argvText{TARMIG_BINARY};
        argvText.insert(argvText.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argvText) argv.push_back(a.data());
        argv.push_back(nullptr);
        winsize size{24, columns, 0, 0};
        int terminal = -1;
        pid_t pid = forkpty(&terminal, nullptr, nullptr, &size);
        if (pid == 0) {
            if (chdir(work.path().c_str()) != 0) _exit(126);
            execv(argv[0], argv.data());
            _exit(127);
        }
        std::string shown;
        readTerminal(terminal, shown, "", std::chrono::seconds(60));
        int status = 0;
        ::waitpid(pid, &status, 0);
        ::close(terminal);
        return {shown, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
    }

    std::string logText() {
        auto logs = filesMatching(work.path(), "tarmig_", ".log");
        return logs.size() == 1 ? readFile(logs[0]) : "";
    }
};

TEST_F(StatusLineRun, ATerminalShowsTheWholeRunBelowItsLinesAndTheLogNeverDoes) {
    VantrelServer server;
    const auto [shown, exitStatus] = atTerminal(arguments(server, {}), 200);
    EXPECT_EQ(exitStatus, 0) << shown;
    EXPECT_NE(shown.find(erase + "accounts 0/2, messages 0, 0B of 2.9KB, rate unknown, ETA unknown"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("accounts 2/2, messages 80, "), std::string::npos) << shown;
    // The status line counts for the run: no folder counter beside it, and
    // the lines arrive whole ("\r\n": the terminal's own line end).
    EXPECT_EQ(shown.find("\b \b"), std::string::npos);
    EXPECT_NE(shown.find("   - \"INBOX\", messages: 40\r\n"), std::string::npos) << shown;
    // Gone before the closing lines.
    const std::size_t result = shown.find("Result: migration successful");
    ASSERT_NE(result, std::string::npos);
    EXPECT_EQ(shown.find("accounts ", result), std::string::npos);

    const std::string log = logText();
    EXPECT_EQ(log.find("accounts 0/2"), std::string::npos);
    EXPECT_EQ(log.find('\033'), std::string::npos);
    EXPECT_NE(log.find("   - \"INBOX\", messages: 40\n"), std::string::npos) << log;
}

TEST_F(StatusLineRun, NarrowTerminalsSideBySideAccountsAndQuietRuns) {
    VantrelServer server;
    // Cut short of the last column, so the terminal never wraps it.
    const auto [narrow, narrowStatus] = atTerminal(arguments(server, {"-force", "-jobs", "2"}), 30);
    EXPECT_EQ(narrowStatus, 0) << narrow;
    EXPECT_NE(narrow.find(erase + "accounts 0/2, messages 0, 0B " + erase), std::string::npos) << narrow;
    EXPECT_EQ(narrow.find(erase + "accounts 0/2, messages 0, 0B o"), std::string::npos) << narrow;
    EXPECT_NE(narrow.find(" + mailbox <bob>"), std::string::npos);

    const auto [quiet, quietStatus] = atTerminal(arguments(server, {"-force", "-quiet"}), 200);
    EXPECT_EQ(quietStatus, 0);
    EXPECT_EQ(quiet, "");
}

TEST_F(StatusLineRun, MessagesTheTargetHoldsAlreadyCountAsDone) {
    VantrelServer server;
    ASSERT_EQ(runTool(arguments(server, {}), work.path()).exitStatus, 0);
    auto [shown, exitStatus] = atTerminal(arguments(server, {"-incremental"}), 200);
    EXPECT_EQ(exitStatus, 0) << shown;
    // 80 messages of 20 or 21 bytes with CR LF line ends, none sent again.
    EXPECT_NE(shown.find("accounts 2/2, messages 0, 1.6KB of 2.9KB, "), std::string::npos) << shown;
}

TEST_F(StatusLineRun, NotATerminalNoStatusLine) {
    VantrelServer server;
    const ToolRun run = runTool(arguments(server, {}), work.path());
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out.find("accounts 0/2"), std::string::npos);
    EXPECT_EQ(run.out.find('\033'), std::string::npos);
    EXPECT_NE(run.out.find("\b \b"), std::string::npos) << "the folder counter stays where there is no status line";
}

}  // namespace
