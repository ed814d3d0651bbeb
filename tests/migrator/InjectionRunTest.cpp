#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Store text that carries a line break and an IMAP command after it (the
// settings format writes CR LF as \013\010). Were it put between quotes, the
// server would end the command at the break and run the rest with the
// master's rights; it must arrive as plain data instead.
namespace {

using namespace tarmig::testing;

const std::string crlf = "\r\n";
const std::string realName = "Carol" + crlf + "T77 X-CREATEUSER (NAME evil DOMAIN example.com PASSWORD x)" + crlf +
                             "T78 NOOP";
const std::string password = "pw" + crlf + "T79 X-CREATEUSER (NAME evil2 DOMAIN example.com PASSWORD y)" + crlf +
                             "T80 NOOP";
const std::string folderName = "Work" + crlf + "T90 CREATE Injected" + crlf + "T91 NOOP";
const std::string accountName = "dan" + crlf + "T95 X-CREATEUSER (NAME evil3 DOMAIN example.com PASSWORD z)" +
                                crlf + "T96 NOOP";

// The text as a quoted string of the settings format, CR and LF as decimal escapes.
std::string settingsQuoted(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '\r') out += "\\013";
        else if (c == '\n') out += "\\010";
        else out += c;
    }
    return out + "\"";
}

std::string oneMessage(const std::string& body) {
    MboxMessage message;
    message.data = "Subject: " + body + "\n\n" + body + "\n";
    return mboxText({message});
}

TEST(InjectionRun, StoreTextWithLineBreaksArrivesAsDataAndRunsNothing) {
    TempDir store, work;
    StoreBuilder builder(store.path());
    const std::string carol = builder.addMacnt(
        "", "carol",
        "{Password = " + settingsQuoted(password) + "; RealName = " + settingsQuoted(realName) + ";}\n",
        "{INBOX = {Messages = #1;}; " + settingsQuoted(folderName) + " = {Messages = #1;};}\n");
    builder.addMboxFolder(carol, "INBOX", oneMessage("inbox"));
    builder.addMboxFolder(carol, folderName, oneMessage("work"));
    const std::string dan = builder.addMacnt("", accountName, "{Password = \"dpw\";}\n",
                                             "{INBOX = {Messages = #1;};}\n");
    builder.addMboxFolder(dan, "INBOX", oneMessage("dan"));

    VantrelServer server;
    ToolRun run = runTool({"-path", store.path(), "-primaryDomain", "example.com", "-migrate", "-server",
                           "127.0.0.1", "-port", std::to_string(server.port()), "-password", "master"},
                          work.path());
    server.stop();
    const VantrelDump dump = server.dump();

    // dan's name reaches the server whole, as a name, which it refuses for
    // its line break: no command hidden in it runs.
    EXPECT_EQ(run.exitStatus, 1) << run.out;
    EXPECT_NE(run.out.find("Error: cannot create user <dan\\r\\nT95 X-CREATEUSER (NAME evil3 DOMAIN example.com "
                           "PASSWORD z)\\r\\nT96 NOOP@example.com>: Invalid account name\n"),
              std::string::npos)
        << run.out;
    std::vector<std::string> names;
    for (const VantrelAccount& account : dump.accounts) names.push_back(account.name);
    EXPECT_EQ(names, (std::vector<std::string>{"carol"}));

    const VantrelAccount* carolThere = dump.account("carol", "example.com");
    ASSERT_NE(carolThere, nullptr);
    EXPECT_EQ(carolThere->fullName, realName);
    EXPECT_EQ(carolThere->password, password);
    std::vector<std::string> folders;
    for (const VantrelFolder& folder : carolThere->folders) folders.push_back(folder.name);
    // The folder's IMAP name is modified UTF-7, where control characters are shifted.
    const std::string wireName = "Work&AA0ACg-T90 CREATE Injected&AA0ACg-T91 NOOP";
    EXPECT_EQ(folders, (std::vector<std::string>{"INBOX", wireName}));
    const VantrelFolder* workFolder = carolThere->folder(wireName);
    ASSERT_NE(workFolder, nullptr);
    ASSERT_EQ(workFolder->messages.size(), 1u);
    EXPECT_EQ(workFolder->messages[0].data, "Subject: work\r\n\r\nwork\r\n");
}

}  // namespace
