#include <gtest/gtest.h>

#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "support/StoreBuilder.h"
#include "support/TerminalReader.h"
#include "support/VantrelServer.h"

// "-password -" typed at a terminal: the built binary runs under a
// pseudo-terminal, asks for the password and does not echo it.
namespace {

using namespace tarmig::testing;

TEST(MasterPasswordTerminal, AsksWithoutEchoingWhatIsTyped) {
    TempDir store, work;
    StoreBuilder builder{store.path()};
    const std::string ann = builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}),
                                             infoText("1", {{"INBOX", "", "1", ""}}));
    builder.addMboxFolder(ann, "INBOX", mboxText({{"Subject: one\n\none\n", "", "1"}}));
    VantrelServer server({.masterPassword = "typed-secret", .arguments = {}});

    std::vector<std::string> argvText{TARMIG_BINARY, "-path", store.path(), "-primaryDomain", "example.com",
                                      "-migrate", "-server", "127.0.0.1", "-port", std::to_string(server.port()),
                                      "-password", "-"};
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    int terminal = -1;
    pid_t pid = forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (chdir(work.path().c_str()) != 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    std::string shown;
    readTerminal(terminal, shown, "Vantrel master password: ", std::chrono::seconds(10));
    const std::string typed = "typed-secret\n";
    EXPECT_EQ(::write(terminal, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    readTerminal(terminal, shown, "Result: migration", std::chrono::seconds(10));
    readTerminal(terminal, shown, "\n", std::chrono::seconds(10));
    int status = 0;
    waitpid(pid, &status, 0);
    ::close(terminal);

    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
    EXPECT_NE(shown.find("Vantrel master password: \r\n"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("typed-secret"), std::string::npos) << shown;
    server.stop();
    const VantrelDump dump = server.dump();
    EXPECT_NE(dump.account("ann", "example.com"), nullptr);
}

}  // namespace
