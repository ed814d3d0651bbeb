#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// An account that an -incremental run creates cannot hold the store's
// messages yet: it is filled as without -incremental, reading nothing back.
namespace {

using namespace tarmig::testing;

struct FolderShape {
    std::string name;
    std::string type;
    std::size_t messages;
    bool operator==(const FolderShape&) const = default;
    friend void PrintTo(const FolderShape& folder, std::ostream* out) {
        *out << folder.name << " (" << folder.type << ") " << folder.messages;
    }
};

std::vector<FolderShape> shape(const VantrelDump& dump) {
    std::vector<FolderShape> folders;
    const VantrelAccount* ann = dump.account("ann", "example.com");
    if (ann == nullptr) return folders;
    for (const VantrelFolder& folder : ann->folders) folders.push_back({folder.name, folder.type, folder.messages.size()});
    return folders;
}

TEST(IncrementalNewAccount, IsFilledWithoutReadingTheTargetBack) {
    TempDir store;
    StoreBuilder builder(store.path());
    const std::string account =
        builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}),
                         infoText("", {{"INBOX", "", "2", ""}, {"Archive/2004", "", "1", ""}, {"Contacts", "IPF.Contact", "0", ""}}));
    builder.addMboxFolder(account, "INBOX",
                          mboxText({storedMessage("Message-ID: <a@x>\nSubject: a\n\none\n", "S", "20-02-2004_12:34:56_"),
                                    storedMessage("Message-ID: <b@x>\nSubject: b\n\ntwo\n", "", "20-02-2004_12:34:57_")}));
    const std::string archive = builder.addMdirFolder(account, "Archive/2004");
    builder.addMdirMessage(archive, "S", "20040305081910", "Message-Id: <m1@x>\nSubject: m1\n\none\n");

    auto migrate = [&](const VantrelServer& server, const TempDir& work, bool incremental) {
        std::vector<std::string> args = {"-path", store.path(), "-primaryDomain", "example.com", "-migrate",
                                         "-server", "127.0.0.1", "-port", std::to_string(server.port()),
                                         "-password", server.masterPassword()};
        if (incremental) args.push_back("-incremental");
        return runTool(args, work.path());
    };
    VantrelServer plainServer;
    TempDir plainWork;
    const ToolRun plain = migrate(plainServer, plainWork, false);
    ASSERT_EQ(0, plain.exitStatus) << plain.out;
    // Any UID command (the fetch of the target's keys) ends this server's session.
    VantrelServer server({.arguments = {"--bye-after", "0", "--fault-commands", "UID"}});
    TempDir work;
    const ToolRun run = migrate(server, work, true);
    EXPECT_EQ(0, run.exitStatus) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("Info: messages appended: 3, failed: 0\n")) << run.out;
    EXPECT_NE(std::string::npos, run.out.find("Info: messages already present: 0\n")) << run.out;

    plainServer.stop();
    server.stop();
    const VantrelDump plainDump = plainServer.dump();
    const VantrelDump dump = server.dump();
    EXPECT_EQ(plainDump.stats.commands, dump.stats.commands);
    EXPECT_EQ(3u, dump.stats.appends);
    EXPECT_EQ(shape(plainDump), shape(dump));
    EXPECT_EQ(4u, shape(dump).size()) << "INBOX, Archive, Archive/2004 and Contacts";
}

}  // namespace
