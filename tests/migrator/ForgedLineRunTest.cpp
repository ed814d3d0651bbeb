#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Names in the store and answers of the server that hold line breaks, each
// followed by text that reads like a line of the tool's own. The console,
// the log and the reports show them escaped inside the line they belong to:
// the only "Result: " line is the run's. The server refuses account names
// with control characters, as a real one does, so those accounts fail with
// their names escaped.
namespace {

using namespace tarmig::testing;

const std::string forged = "Result: migration successful";
const std::string accountName = "eve\n" + forged;
const std::string domainName = "evil.org\rError: forged";
const std::string listedFolder = "y\r" + forged;  // in the account's info file
const std::string diskFolder = "x\n" + forged;    // only on disk

// The text as a quoted string of the settings format, CR and LF as decimal escapes.
std::string settingsQuoted(const std::string& value) {
    std::string out = "\"";
    for (char c : value) {
        if (c == '\r')
            out += "\\013";
        else if (c == '\n')
            out += "\\010";
        else
            out += c;
    }
    return out + "\"";
}

std::string oneMessage(const std::string& body) {
    MboxMessage message;
    message.data = "Subject: " + body + "\n\n" + body + "\n";
    return mboxText({message});
}

// The lines of a text as a reader sees them: a terminal returns to the
// line's start at a CR, and many readers take a lone CR for a line end.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines(1);
    for (char c : text) {
        if (c == '\n' || c == '\r')
            lines.emplace_back();
        else
            lines.back() += c;
    }
    return lines;
}

std::vector<std::string> linesStartingWith(const std::string& text, const std::string& start) {
    std::vector<std::string> found;
    for (const std::string& line : linesOf(text))
        if (line.starts_with(start)) found.push_back(line);
    return found;
}

// The control bytes of a text other than its line ends (and, on the console,
// the backspaces of the message counter), as "\xNN" each.
std::string controlBytes(const std::string& text, bool console = false) {
    std::string found;
    char hex[8];
    for (unsigned char c : text) {
        if ((c >= 0x20 && c != 0x7f) || c == '\n' || (console && c == '\b')) continue;
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        found += hex;
    }
    return found;
}

class ForgedLineRun : public ::testing::Test {
protected:
    TempDir store, work;
    // The store's own path, as the operator gives it, breaks lines too.
    StoreBuilder builder{store.path() + "/CG\n" + forged};

    std::vector<std::string> arguments(const VantrelServer& server) const {
        return {"-path", builder.root(), "-primaryDomain", "example.com", "-migrate", "-server", "127.0.0.1", "-port",
                std::to_string(server.port()), "-password", "master", "-report", work.path() + "/report.jsonl"};
    }
    std::string fileText(const std::string& suffix) const {
        const std::vector<std::string> files = filesMatching(work.path(), "tarmig_", suffix);
        return files.size() == 1 ? readFile(files[0]) : "";
    }

    // ann keeps a listed folder and one found on disk whose names break lines,
    // and a password that holds a line feed; eve's account directory and the
    // domain directory of carol break lines too.
    void addForgingStore() {
        const std::string ann = builder.addMacnt(
            "", "ann", "{Password = \"p\\010w\";}\n",
            "{INBOX = {Messages = #1;}; " + settingsQuoted(listedFolder) + " = {Messages = #1;};}\n");
        builder.addMboxFolder(ann, "INBOX", oneMessage("inbox"));
        builder.addMboxFolder(ann, listedFolder, oneMessage("listed"));
        builder.addMboxFolder(ann, diskFolder, oneMessage("disk"));
        const std::string eve =
            builder.addMacnt("", accountName, settingsText({{"Password", "pw"}}), "{INBOX = {Messages = #1;};}\n");
        builder.addMboxFolder(eve, "INBOX", oneMessage("eve"));
        const std::string carol = builder.addMacnt(domainName, "carol", settingsText({{"Password", "cpw"}}),
                                                   "{INBOX = {Messages = #1;};}\n");
        builder.addMboxFolder(carol, "INBOX", oneMessage("carol"));
    }
};

TEST_F(ForgedLineRun, PrintModeShowsNamesWithLineBreaksEscaped) {
    addForgingStore();
    const ToolRun run = runTool({"-path", builder.root(), "-primaryDomain", "example.com"}, work.path());
    const std::string log = fileText(".log");

    EXPECT_EQ(run.exitStatus, 0) << run.out;
    for (const std::string* text : {&run.out, &log}) {
        EXPECT_EQ(linesStartingWith(*text, forged), std::vector<std::string>{}) << *text;
        EXPECT_EQ(linesStartingWith(*text, "Error: forged"), std::vector<std::string>{}) << *text;
        EXPECT_NE(text->find(" + mailbox <eve\\nResult: migration successful>, size: "), std::string::npos) << *text;
        EXPECT_NE(text->find("\ndomain (evil.org\\rError: forged)\n"), std::string::npos) << *text;
        EXPECT_NE(text->find("CommuniGate path: \"" + store.path() + "/CG\\nResult: migration successful\"\n"),
                  std::string::npos)
            << *text;
    }
    EXPECT_NE(log.find(" Info: read mailbox <eve\\nResult: migration successful> full name: \"\""), std::string::npos)
        << log;
    EXPECT_EQ(controlBytes(log), "");
    EXPECT_EQ(controlBytes(run.out, true), "");
}

TEST_F(ForgedLineRun, MigrationShowsNamesWithLineBreaksEscapedAndOnlyItsOwnResult) {
    addForgingStore();
    VantrelServer server;
    const ToolRun run = runTool(arguments(server), work.path());
    server.stop();
    const VantrelDump dump = server.dump();
    const std::string log = fileText(".log");

    EXPECT_EQ(run.exitStatus, 1) << run.out;
    // ann's folders arrived under their own names; the accounts the server
    // refused are named escaped.
    const VantrelAccount* ann = dump.account("ann", "example.com");
    ASSERT_NE(ann, nullptr) << log;
    EXPECT_EQ(ann->folders.size(), 3u);
    EXPECT_EQ(ann->password, "p\nw");
    EXPECT_EQ(dump.account(accountName, "example.com"), nullptr) << log;
    EXPECT_EQ(dump.account("carol", domainName), nullptr) << log;

    for (const std::string* text : {&run.out, &log}) {
        EXPECT_EQ(linesStartingWith(*text, "Result: "), std::vector<std::string>{"Result: migration failed"})
            << *text;
        EXPECT_NE(text->find("Error: cannot create user <eve\\nResult: migration successful@example.com>: Invalid "
                             "account name\n"),
                  std::string::npos)
            << *text;
        EXPECT_NE(text->find("Error: cannot create user <carol@evil.org\\rError: forged>: Invalid account name\n"),
                  std::string::npos)
            << *text;
        EXPECT_EQ(linesStartingWith(*text, "Error: forged"), std::vector<std::string>{}) << *text;
        EXPECT_NE(text->find("Warning: folder \"x\\nResult: migration successful\" is not in the account's info "
                             "file, migrated from disk\n"),
                  std::string::npos)
            << *text;
        EXPECT_NE(text->find("   - \"y\\rResult: migration successful\", messages: "), std::string::npos) << *text;
    }
    EXPECT_TRUE(log.ends_with("\nResult: migration failed\n")) << log;
    EXPECT_EQ(controlBytes(log), "");
    EXPECT_EQ(controlBytes(run.out, true), "");
    EXPECT_NE(log.find("   Info: found folder \"ann/x\\nResult: migration successful\" on disk\n"), std::string::npos)
        << log;

    const std::string passwords = fileText(".pass");
    EXPECT_EQ(controlBytes(passwords), "");
    EXPECT_EQ(passwords, "<ann@example.com>, password: \"p\\nw\" (shown with escapes)\n");

    // One JSON line per account and one for the run.
    const std::string report = readFile(work.path() + "/report.jsonl");
    EXPECT_EQ(linesOf(report).size(), 5u) << report;
}

TEST_F(ForgedLineRun, IncrementalVerifyingRunShowsNamesEscaped) {
    addForgingStore();
    VantrelServer server;
    ASSERT_EQ(runTool(arguments(server), work.path()).exitStatus, 1);
    TempDir again;
    std::vector<std::string> args = arguments(server);
    args.insert(args.end(), {"-incremental", "-verify"});
    const ToolRun run = runTool(args, again.path());
    server.stop();
    const std::vector<std::string> logs = filesMatching(again.path(), "tarmig_", ".log");
    ASSERT_EQ(logs.size(), 1u);
    const std::string log = readFile(logs[0]);

    EXPECT_EQ(run.exitStatus, 1) << log;
    EXPECT_EQ(linesStartingWith(log, "Result: "), std::vector<std::string>{"Result: migration failed"}) << log;
    EXPECT_NE(log.find("Info: <ann@example.com> folder \"y\\rResult: migration successful\": 1 messages already "
                       "present\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Info: verified <ann@example.com>: 3 folders, 3 messages\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Error: cannot create user <eve\\nResult: migration successful@example.com>: Invalid account "
                       "name\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(controlBytes(log), "");
}

TEST_F(ForgedLineRun, FailuresShowServerAnswersAndAccountNamesEscaped) {
    const std::string ann =
        builder.addMacnt("", "ann", settingsText({{"Password", "pw"}}), "{INBOX = {}; Work = {Messages = #1;};}\n");
    builder.addMboxFolder(ann, "Work", oneMessage("work"));
    builder.addMacnt("", "bob", settingsText({{"Password", "pw"}}), "{INBOX = {};}\n");
    // Names that differ in letter case only: the one read second is not read.
    builder.addMacnt("", "dup\n" + forged, settingsText({}), "{INBOX = {};}\n");
    builder.addMdirAccount("", "DUP\n" + forged, settingsText({}), "{}\n");
    VantrelServer server({.arguments = {"--refuse-create", "Work", "--refuse-createuser", "bob@example.com",
                                        "--refusal-text", "Refused\r" + forged}});
    const ToolRun run = runTool(arguments(server), work.path());
    server.stop();
    const std::string log = fileText(".log");

    EXPECT_EQ(run.exitStatus, 1) << run.out;
    EXPECT_NE(log.find("Error: cannot create folder Work: Refused\\rResult: migration successful\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Error: cannot create user <bob@example.com>: Refused\\rResult: migration successful\n"),
              std::string::npos)
        << log;
    const std::regex unread("Error: account <(dup|DUP)\\\\nResult: migration successful> is stored a second time "
                            "in \"[^\"\n]*\", not read: its name is taken by an account read before\n"
                            "Error: cannot migrate mailbox <(dup|DUP)\\\\nResult: migration successful>\n");
    EXPECT_TRUE(std::regex_search(log, unread)) << log;
    for (const std::string* text : {&run.out, &log})
        EXPECT_EQ(linesStartingWith(*text, "Result: "), std::vector<std::string>{"Result: migration failed"})
            << *text;
    EXPECT_EQ(controlBytes(log), "");

    TempDir printDir;
    const ToolRun print = runTool({"-path", builder.root(), "-primaryDomain", "example.com"}, printDir.path());
    EXPECT_TRUE(std::regex_search(
        print.out, std::regex("\nError: cannot print mailbox <(dup|DUP)\\\\nResult: migration successful>\n")))
        << print.out;
}

}  // namespace
