#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Migrations by the built binary to a server reached over IPv6 loopback, the
// address written with and without brackets, in plain text and over TLS.
namespace {

using namespace tarmig::testing;

class ServerAddressRun : public ::testing::Test {
protected:
    TempDir store;
    StoreBuilder builder{store.path()};

    void SetUp() override {
        const std::string ann = builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}),
                                                 infoText("1", {{"INBOX", "", "1", ""}}));
        builder.addMboxFolder(ann, "INBOX", mboxText({{"Subject: six\n\nsix\n", "S", "1"}}));
    }

    // Runs a migration in a fresh directory; the log text goes to `log`.
    ToolRun migrate(const std::string& server, unsigned port, std::vector<std::string> extra, std::string& log) {
        TempDir work;
        std::vector<std::string> args{"-path", store.path(), "-primaryDomain", "example.com", "-migrate",
                                      "-server", server, "-port", std::to_string(port), "-password", "master"};
        args.insert(args.end(), extra.begin(), extra.end());
        ToolRun run = runTool(args, work.path());
        auto logs = filesMatching(work.path(), "tarmig_", ".log");
        log = logs.size() == 1 ? readFile(logs[0]) : "";
        return run;
    }
};

TEST_F(ServerAddressRun, MigratesToIpv6LoopbackWithOrWithoutBrackets) {
    struct Case {
        std::string server;
        bool tls;
    };
    for (const Case& c : {Case{"::1", false}, Case{"[::1]", false}, Case{"[::1]", true}}) {
        VantrelServer server({.arguments = {"--listen", "::1"}, .tls = c.tls});
        std::string log;
        std::vector<std::string> extra;
        if (c.tls) extra = {"-ssl", "-insecure"};
        ToolRun run = migrate(c.server, server.port(), extra, log);
        server.stop();
        EXPECT_EQ(run.exitStatus, 0) << c.server << "\n" << run.out;
        EXPECT_TRUE(log.ends_with("Result: migration successful\n")) << log;
        const VantrelDump dump = server.dump();
        const VantrelAccount* ann = dump.account("ann", "example.com");
        ASSERT_NE(ann, nullptr) << c.server;
        const VantrelFolder* inbox = ann->folder("INBOX");
        ASSERT_NE(inbox, nullptr);
        ASSERT_EQ(inbox->messages.size(), 1u);
        EXPECT_EQ(inbox->messages[0].data, "Subject: six\r\n\r\nsix\r\n");
    }
}

TEST_F(ServerAddressRun, ServerOnTheOtherFamilyOrMalformedAddressFailsTheRun) {
    VantrelServer server;  // 127.0.0.1 only
    for (const char* address : {"::1", "[::1]", "[::1"}) {
        std::string log;
        ToolRun run = migrate(address, server.port(), {}, log);
        EXPECT_EQ(run.exitStatus, 3) << address;
        EXPECT_NE(log.find("Network error: cannot connect to Vantrel\n"), std::string::npos) << address << "\n" << log;
        EXPECT_TRUE(log.ends_with("Result: migration failed\n")) << log;
    }
    server.stop();
    EXPECT_TRUE(server.dump().accounts.empty());
}

}  // namespace
