#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// The master password given by a file or on standard input instead of on the
// command line, by the built binary against the Vantrel test server.
namespace {

using namespace tarmig::testing;

class MasterPasswordRun : public ::testing::Test {
protected:
    TempDir store;
    TempDir secrets;
    TempDir work;
    StoreBuilder builder{store.path()};
    VantrelServer server;

    void SetUp() override {
        const std::string ann = builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}),
                                                 infoText("1", {{"INBOX", "", "1", ""}}));
        builder.addMboxFolder(ann, "INBOX", mboxText({{"Subject: one\n\none\n", "S", "1"}}));
    }

    std::vector<std::string> arguments(std::vector<std::string> password) const {
        std::vector<std::string> args{"-path", store.path(), "-primaryDomain", "example.com", "-migrate",
                                      "-server", "127.0.0.1", "-port", std::to_string(server.port())};
        args.insert(args.end(), password.begin(), password.end());
        return args;
    }

    std::string passwordFile(const std::string& bytes, mode_t mode) {
        const std::string path = secrets.path() + "/master";
        writeFile(path, bytes);
        chmod(path.c_str(), mode);
        return path;
    }

    // Whether ann and her message arrived.
    bool migrated() {
        server.stop();
        const VantrelDump dump = server.dump();
        const VantrelAccount* ann = dump.account("ann", "example.com");
        return ann != nullptr && ann->folder("INBOX") != nullptr && ann->folder("INBOX")->messages.size() == 1;
    }
};

TEST_F(MasterPasswordRun, FileOfItsOwnerOnlyLogsIn) {
    ToolRun run = runTool(arguments({"-passwordFile", passwordFile("master\r\n", 0600)}), work.path());
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_TRUE(migrated());
}

TEST_F(MasterPasswordRun, FileReadableByOthersStopsTheRunBeforeItStarts) {
    const std::string path = passwordFile("master\n", 0644);
    ToolRun run = runTool(arguments({"-passwordFile", path}), work.path());
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "Argument error: password file \"" + path +
                           "\" has mode 0644, it must not be readable by group or others\n");
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
    EXPECT_FALSE(migrated());
}

TEST_F(MasterPasswordRun, MissingFileStopsTheRunBeforeItStarts) {
    ToolRun run = runTool(arguments({"-passwordFile", secrets.path() + "/none"}), work.path());
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "Argument error: password file \"" + secrets.path() +
                           "/none\" cannot be read: No such file or directory\n");
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
    EXPECT_FALSE(migrated());
}

TEST_F(MasterPasswordRun, DashReadsStandardInput) {
    ToolRun run = runToolWithInput(arguments({"-password", "-"}), work.path(), "master\nignored\n");
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_TRUE(migrated());
}

TEST_F(MasterPasswordRun, EmptyStandardInputIsAnArgumentError) {
    ToolRun run = runToolWithInput(arguments({"-password", "-"}), work.path(), "");
    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_EQ(run.out, "Argument error: no master password on standard input (-password -)\n");
    EXPECT_TRUE(filesMatching(work.path(), "", "").empty());
}

}  // namespace
