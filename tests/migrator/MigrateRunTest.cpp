#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "store/CGException.h"
#include "migrator/Migrator.h"
#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Migrations by the built binary into the Vantrel test server, compared with
// the store they came from.
namespace {

using namespace tarmig::testing;

struct ServerMessage {
    std::string flags, date, via, data;
};
struct ServerFolder {
    std::string type;
    std::vector<ServerMessage> messages;
};
struct ServerAccount {
    std::string password, fullName;
    std::map<std::string, ServerFolder> folders;
};
using ServerState = std::map<std::string, ServerAccount>;  // by user@domain

// The server's state keyed for comparisons: accounts by user@domain, folders by name.
ServerState stateOf(const VantrelDump& dump) {
    ServerState state;
    for (const VantrelAccount& account : dump.accounts) {
        ServerAccount& to = state[account.name + "@" + account.domain];
        to.password = account.password;
        to.fullName = account.fullName;
        for (const VantrelFolder& folder : account.folders) {
            ServerFolder& f = to.folders[folder.name];
            f.type = folder.type;
            for (const VantrelMessage& m : folder.messages) {
                std::string flags;
                for (const std::string& flag : m.flags) flags += (flags.empty() ? "" : " ") + flag;
                f.messages.push_back({flags, m.date, m.via, m.data});
            }
        }
    }
    return state;
}

// A Vantrel test server for one migration; stop() returns what arrived.
class VantrelTarget {
public:
    explicit VantrelTarget(std::vector<std::string> arguments, bool tls = false, std::string master = "master")
        : server_(VantrelServerOptions{std::move(master), std::move(arguments), tls}) {}

    unsigned port() const { return server_.port(); }
    std::string portText() const { return std::to_string(server_.port()); }
    ServerState stop() {
        server_.stop();
        return stateOf(server_.dump());
    }

private:
    VantrelServer server_;
};

std::string settings(const std::string& realName, const std::string& password) {
    std::map<std::string, std::string> values{{"RealName", realName}};
    if (!password.empty()) values["Password"] = password;
    return settingsText(values);
}

MboxMessage mboxMessage(const std::string& data, const std::string& flags, const std::string& uid) {
    MboxMessage m;
    m.data = data;
    m.flags = flags;
    m.uid = uid;
    return m;
}

// Messages "Subject: 1" to "Subject: count", each with its number as uid and body.
std::vector<MboxMessage> numberedMessages(int count) {
    std::vector<MboxMessage> messages;
    for (int i = 1; i <= count; ++i) {
        std::string n = std::to_string(i);
        messages.push_back(mboxMessage("Subject: " + n + "\n\n" + n + "\n", "", n));
    }
    return messages;
}

class MigrateRun : public ::testing::Test {
protected:
    TempDir store, work;
    StoreBuilder builder{store.path()};
    std::string workDir = work.path();

    ToolRun migrate(const VantrelTarget& target, std::vector<std::string> extra = {},
                    const std::string& master = "master") {
        std::vector<std::string> args{"-path", store.path(), "-primaryDomain", "example.com", "-migrate",
                                      "-server", "127.0.0.1", "-port", target.portText(), "-password", master};
        args.insert(args.end(), extra.begin(), extra.end());
        return runTool(args, workDir);
    }
    std::string logText() {
        auto logs = filesMatching(workDir, "tarmig_", ".log");
        return logs.size() == 1 ? readFile(logs[0]) : "";
    }
    // An account of the primary domain whose INBOX holds these messages, with
    // the count recorded to match.
    void addInboxAccount(const std::string& name, const std::string& password,
                         const std::vector<MboxMessage>& messages) {
        std::string path = builder.addMacnt("", name, settings("", password),
                                            infoText("1", {{"INBOX", "", std::to_string(messages.size()), ""}}));
        builder.addMboxFolder(path, "INBOX", mboxText(messages));
    }
    std::string passText() {
        auto files = filesMatching(workDir, "tarmig_", ".pass");
        return files.size() == 1 ? readFile(files[0]) : "";
    }
};

const std::string inbox1 = "From: a@example.com\nSubject: one\n\nbare LF body\r\nand a CR LF line\n";
const std::string inbox2 = "Subject: two\r\n\r\nalready CR LF\r\n";
const std::string withCrLf(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) out += '\r';
        out += s[i];
    }
    return out;
}

// ann: stored password, two levels, forbidden characters, typed folders, mdir;
// joe: single-file account without a password; other.org/bob: .mdir account.
void buildSampleStore(StoreBuilder& builder) {
    std::string ann = builder.addMacnt(
        "", "ann", settings("Ann Lee", "ann-secret"),
        infoText("4096", {{"INBOX", "", "2", ""},
                          {"Calendar", "IPF.Appointment", "1", ""},
                          {"Projects/2004", "IPF.Note", "1", ""},
                          {"Ideas:Later?", "", "1", ""},
                          {"Empty", "IPF.Contact", "0", ""}}));
    builder.addMboxFolder(ann, "INBOX", mboxText({mboxMessage(inbox1, "SA", "1"), mboxMessage(inbox2, "", "2")}));
    std::string calendar = builder.addMdirFolder(ann, "Calendar");
    builder.addMdirMessage(calendar, "F", "20040305081910", "Subject: meeting\n\nat nine\n");
    builder.addMboxFolder(ann, "Projects/2004", mboxText({mboxMessage("Subject: p\n\nplan\n", "D", "7")}));
    builder.addMboxFolder(ann, "Ideas:Later?", mboxText({mboxMessage("Subject: i\n\nidea\n", "S", "8")}));

    builder.addMboxAccount("", "joe", settings("Joe", ""), infoText("100", {{"INBOX", "", "1", ""}}),
                           mboxText({mboxMessage("Subject: joe\n\nhi\n", "", "1")}));
    std::string bob = builder.addMdirAccount("other.org", "bob", settings("Bob", "bobpw"),
                                             infoText("50", {{"INBOX", "", "1", ""}}));
    builder.addMdirMessage(bob, "SR", "20040220123456", "Subject: bob\n\nmdir\n");
}

TEST_F(MigrateRun, EverythingArrivesIntactWithFlagsDatesTypesAndPasswords) {
    buildSampleStore(builder);
    VantrelTarget target({});
    ASSERT_NE(target.port(), 0u);
    auto run = migrate(target);
    ServerState server = target.stop();

    EXPECT_EQ(run.exitStatus, 0) << run.out;
    ASSERT_EQ(server.size(), 3u);

    const ServerAccount& ann = server["ann@example.com"];
    EXPECT_EQ(ann.password, "ann-secret");
    EXPECT_EQ(ann.fullName, "Ann Lee");
    ASSERT_EQ(ann.folders.count("INBOX"), 1u);
    const auto& inbox = ann.folders.at("INBOX").messages;
    ASSERT_EQ(inbox.size(), 2u);
    EXPECT_EQ(inbox[0].data, withCrLf(inbox1));
    EXPECT_EQ(inbox[0].flags, "\\Seen \\Answered");
    EXPECT_EQ(inbox[0].date, "20-Feb-2004 12:34:56 +0000");
    EXPECT_EQ(inbox[0].via, "X-APPEND");
    EXPECT_EQ(inbox[1].data, inbox2);
    EXPECT_EQ(inbox[1].flags, "");

    EXPECT_EQ(ann.folders.at("Calendar").type, "X-CALENDAR");
    ASSERT_EQ(ann.folders.at("Calendar").messages.size(), 1u);
    EXPECT_EQ(ann.folders.at("Calendar").messages[0].data, "Subject: meeting\r\n\r\nat nine\r\n");
    EXPECT_EQ(ann.folders.at("Calendar").messages[0].flags, "\\Flagged");
    EXPECT_EQ(ann.folders.at("Calendar").messages[0].date, "05-Mar-2004 08:19:10 +0000");
    // The missing parent level is created with the leaf's type.
    ASSERT_EQ(ann.folders.count("Projects"), 1u);
    EXPECT_EQ(ann.folders.at("Projects").type, ann.folders.at("Projects/2004").type);
    EXPECT_EQ(ann.folders.at("Projects/2004").messages.size(), 1u);
    EXPECT_EQ(ann.folders.at("Projects/2004").messages[0].flags, "\\Draft");
    ASSERT_EQ(ann.folders.count("Ideas_Later_"), 1u);
    EXPECT_EQ(ann.folders.at("Ideas_Later_").messages.size(), 1u);
    ASSERT_EQ(ann.folders.count("Empty"), 1u);
    EXPECT_EQ(ann.folders.at("Empty").type, "X-CONTACT");
    EXPECT_TRUE(ann.folders.at("Empty").messages.empty());  // no storage and a count of 0: an empty folder

    const ServerAccount& joe = server["joe@example.com"];
    EXPECT_TRUE(std::regex_match(joe.password, std::regex("[a-zA-Z0-9]{6}"))) << joe.password;
    EXPECT_EQ(joe.folders.at("INBOX").messages.at(0).data, "Subject: joe\r\n\r\nhi\r\n");
    const ServerAccount& bob = server["bob@other.org"];
    EXPECT_EQ(bob.password, "bobpw");
    EXPECT_EQ(bob.folders.at("INBOX").messages.at(0).flags, "\\Seen \\Recent");

    // The password report names every provisioned account once, privately.
    std::string pass = passText();
    EXPECT_NE(pass.find("<ann@example.com>, password: \"ann-secret\"\n"), std::string::npos);
    EXPECT_NE(pass.find("<joe@example.com>, password: \"" + joe.password + "\" (generated)\n"), std::string::npos);
    EXPECT_NE(pass.find("<bob@other.org>, password: \"bobpw\"\n"), std::string::npos);
    EXPECT_EQ(std::count(pass.begin(), pass.end(), '\n'), 3);
    struct stat info {};
    ASSERT_EQ(stat(filesMatching(workDir, "tarmig_", ".pass").at(0).c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::string log = logText();
    for (const std::string& line :
         {std::string("Vantrel hostname: 127.0.0.1:") + target.portText() + "\n",
          std::string("Info: domains to migrate (mask): *\nInfo: users to migrate (mask): *\n"
                      "Info: primary domain: example.com\n"),
          std::string("   Info: created user <ann@example.com>, password: \"******\"\n"),
          std::string("Info: Vantrel 6.3.0 or newer detected, search indexing disabled (improve migration speed).\n"),
          std::string("   - \"INBOX\", messages: 2\n"), std::string("   - \"Empty\", messages: 0\n"),
          std::string("Warning: folder-name \"Ideas:Later?\" contain forbidden chars. Name \"Ideas_Later_\" will be "
                      "usead instead it.\n"),
          std::string("Info: accounts migrated: 3, skipped (already existing): 0, failed: 0\n"),
          std::string("Info: messages appended: 7, failed: 0\n"), std::string("\nResult: migration successful\n")}) {
        EXPECT_NE(log.find(line), std::string::npos) << line;
    }
    EXPECT_TRUE(std::regex_search(log, std::regex("\nStart time: .+\n")));
    EXPECT_TRUE(std::regex_search(log, std::regex("\nFinish time: .+\n\nResult: migration successful\n$")));
    // The console ends each folder line with the count after the erased counter.
    const std::string erase3 = "\b \b\b \b\b \b";
    EXPECT_NE(run.out.find("   - \"INBOX\", messages: 1/2" + erase3 + "1/2" + erase3 + "2/2" + erase3 + "2\n"), std::string::npos);
    EXPECT_NE(run.out.find("   - \"Empty\", messages: 0\n"), std::string::npos);
    EXPECT_TRUE(run.out.ends_with("\nResult: migration successful\n"));
    EXPECT_EQ(run.out.find("created user"), std::string::npos);  // log only
}

TEST_F(MigrateRun, DisabledLineEndFixingSendsTheBytesAsStored) {
    addInboxAccount("ann", "pw", {mboxMessage(inbox1, "", "1"), mboxMessage(inbox2, "", "2")});
    VantrelTarget target({"--server-version", "6.2.9"});
    auto run = migrate(target, {"-disableCrLfFixing"});
    ServerState server = target.stop();
    EXPECT_EQ(run.exitStatus, 0);
    const auto& inbox = server["ann@example.com"].folders["INBOX"].messages;
    ASSERT_EQ(inbox.size(), 2u);
    EXPECT_EQ(inbox[0].data, inbox1);
    EXPECT_EQ(inbox[1].data, inbox2);
    EXPECT_EQ(inbox[0].via, "APPEND");  // an older server gets plain APPEND
    EXPECT_EQ(logText().find("6.3.0 or newer detected"), std::string::npos);
}

TEST_F(MigrateRun, RecordedCountsBeyondIntStillReadTheFolder) {
    std::string ann = builder.addMacnt("", "ann", settings("", "pw"),
                                       infoText("1", {{"Huge", "", "99999999999999999999", ""},
                                                      {"Wraps", "", "4294967296", ""},
                                                      {"Negative", "", "-1", ""}}));
    for (const char* folder : {"Huge", "Wraps", "Negative"})
        builder.addMboxFolder(ann, folder, mboxText({mboxMessage(std::string("Subject: ") + folder + "\n\nx\n", "", "1")}));
    VantrelTarget target({});
    auto run = migrate(target);
    ServerState server = target.stop();
    EXPECT_EQ(run.exitStatus, 0);
    auto& folders = server["ann@example.com"].folders;
    EXPECT_EQ(folders["Huge"].messages.size(), 1u);
    EXPECT_EQ(folders["Wraps"].messages.size(), 1u);
    EXPECT_EQ(folders["Negative"].messages.size(), 1u);  // a count below 1 still reads the storage
    std::string log = logText();
    EXPECT_NE(log.find("   - \"Wraps\", messages: 2147483647\n"), std::string::npos);
    EXPECT_NE(log.find("   - \"Negative\", messages: -1\n"), std::string::npos);
}

TEST_F(MigrateRun, RefusedMessageIsReportedAndTheFolderGoesOn) {
    addInboxAccount("ann", "pw", numberedMessages(3));
    VantrelTarget target({"--refuse-append", "2"});
    // One append at a time, so that each result shows before the next counter.
    auto run = migrate(target, {"-window", "1"});
    ServerState server = target.stop();
    EXPECT_EQ(run.exitStatus, 1);
    const auto& inbox = server["ann@example.com"].folders["INBOX"].messages;
    ASSERT_EQ(inbox.size(), 2u);
    EXPECT_EQ(inbox[0].data, "Subject: 1\r\n\r\n1\r\n");
    EXPECT_EQ(inbox[1].data, "Subject: 3\r\n\r\n3\r\n");
    std::string log = logText();
    EXPECT_NE(log.find("Error: append message error\nError: cannot migrate message nr.: 2\n"), std::string::npos);
    // The counter's length is erased after the error line too, then the next one is drawn.
    const std::string erase3 = "\b \b\b \b\b \b";
    EXPECT_NE(run.out.find("2/3\nError: cannot migrate message nr.: 2\n" + erase3 + "3/3" + erase3 + "3\n"),
              std::string::npos)
        << run.out;
    EXPECT_NE(log.find("Info: messages appended: 2, failed: 1\n"), std::string::npos);
    EXPECT_TRUE(log.ends_with("Result: migration failed\n"));
}

TEST_F(MigrateRun, UnreadableFolderFileReconnectsIntoTheSameAccount) {
    // Folders go in byte order: "Broken" (no storage file) comes before INBOX.
    std::string ann = builder.addMacnt("", "ann", settings("", ""),
                                       infoText("1", {{"Broken", "", "1", ""}, {"INBOX", "", "1", ""}}));
    builder.addMboxFolder(ann, "INBOX", mboxText({mboxMessage("Subject: in\n\nx\n", "", "1")}));
    VantrelTarget target({});
    auto run = migrate(target);
    ServerState server = target.stop();

    EXPECT_EQ(run.exitStatus, 1);
    std::string log = logText();
    EXPECT_NE(log.find("Error: cannot migrate folder \"Broken\"\n"), std::string::npos);
    EXPECT_NE(run.out.find("   - \"Broken\", messages: 1/1\nError: cannot migrate folder \"Broken\"\n1\n"),
              std::string::npos);
    // The next folder is filled in the account, not in the master's context.
    ASSERT_EQ(server.size(), 1u);
    ASSERT_EQ(server["ann@example.com"].folders["INBOX"].messages.size(), 1u);
    EXPECT_EQ(server["ann@example.com"].folders["INBOX"].messages[0].data, "Subject: in\r\n\r\nx\r\n");
    // Provisioned once: one report line with the generated password, no "already exist".
    std::string pass = passText();
    EXPECT_EQ(std::count(pass.begin(), pass.end(), '\n'), 1);
    EXPECT_NE(pass.find("(generated)"), std::string::npos);
    EXPECT_EQ(log.find("cannot migrate, user already exist"), std::string::npos);
    EXPECT_EQ(server["ann@example.com"].password, pass.substr(pass.find('"') + 1, 6));
}

TEST_F(MigrateRun, ExistingAccountIsSkippedWithoutForceAndFilledWithIt) {
    addInboxAccount("ann", "new", {mboxMessage("Subject: a\n\na\n", "", "1")});
    {
        VantrelTarget target({"--account", "ann@example.com:old"});
        auto run = migrate(target);
        ServerState server = target.stop();
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_NE(run.out.find(" + mailbox <ann>, size: 1B\n   Info: cannot migrate, user already exist: use "
                               "\"-force\" argument\n"),
                  std::string::npos);
        EXPECT_TRUE(server["ann@example.com"].folders["INBOX"].messages.empty());
        EXPECT_EQ(server["ann@example.com"].password, "old");
        EXPECT_EQ(passText(), "<ann@example.com> already exist, hold current password\n");
        EXPECT_NE(logText().find("skipped (already existing): 1"), std::string::npos);
        EXPECT_TRUE(logText().ends_with("Result: migration successful\n"));
    }
    TempDir second;  // a run of its own, with its own log and report
    workDir = second.path();
    VantrelTarget target({"--account", "ann@example.com:old"});
    auto run = migrate(target, {"-force"});
    ServerState server = target.stop();
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(server["ann@example.com"].folders["INBOX"].messages.size(), 1u);
    EXPECT_EQ(server["ann@example.com"].password, "old");
}

TEST_F(MigrateRun, WrongMasterPasswordEndsTheRunBeforeAnyDomainLine) {
    builder.addMacnt("", "ann", settings("", "pw"), infoText("1", {}));
    VantrelTarget target({}, false, "right");
    auto run = migrate(target, {}, "wrong");
    ServerState server = target.stop();
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_TRUE(server.empty());
    EXPECT_EQ(run.out.find("domain ("), std::string::npos);
    EXPECT_NE(run.out.find("\nError: problem with authentication to Vantrel\n"), std::string::npos);
    std::string log = logText();
    EXPECT_NE(log.find("Error: problem with authentication to Vantrel\n\nError: problem with authentication to "
                       "Vantrel\n"),
              std::string::npos);
    EXPECT_TRUE(log.ends_with("Result: migration failed\n"));
}

TEST_F(MigrateRun, UnreachableServerEndsTheRun) {
    builder.addMacnt("", "ann", settings("", "pw"), infoText("1", {}));
    VantrelTarget target({});
    target.stop();  // nothing listens on its port any more
    auto run = migrate(target);
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(run.out.find("domain ("), std::string::npos);
    EXPECT_NE(logText().find("Network error: cannot connect to Vantrel\n\nError: cannot connect to Vantrel\n"),
              std::string::npos);
}

TEST_F(MigrateRun, ConnectionDroppedMidAccountEndsTheRunAfterLoggingOut) {
    addInboxAccount("ann", "pw", numberedMessages(3));
    builder.addMacnt("other.org", "bob", settings("", "pw"), infoText("1", {}));
    VantrelTarget target({"--drop-after", "1", "--fault-commands", "APPEND,X-APPEND"});
    auto run = migrate(target);
    ServerState server = target.stop();
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(server["ann@example.com"].folders["INBOX"].messages.size(), 1u);
    EXPECT_EQ(server.count("bob@other.org"), 0u);  // the run ended with ann
    std::string log = logText();
    EXPECT_NE(log.find("Network error: cannot append message\n\nError: cannot append message\n"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("domain (other.org)"), std::string::npos);
    EXPECT_TRUE(log.ends_with("Result: migration failed\n"));
}

TEST_F(MigrateRun, RefusedFolderCreationFailsThatFolderAndTheRunGoesOn) {
    std::string ann = builder.addMacnt("", "ann", settings("", "pw"),
                                       infoText("1", {{"Archive/2004", "IPF.Note", "1", ""}, {"INBOX", "", "0", ""}}));
    builder.addMboxFolder(ann, "Archive/2004", mboxText({mboxMessage("Subject: a\n\na\n", "", "1")}));
    builder.addMacnt("other.org", "bob", settings("", "pw"), infoText("1", {}));
    VantrelTarget target({"--refuse-create", "Archive/2004"});
    auto run = migrate(target);
    ServerState server = target.stop();
    EXPECT_EQ(run.exitStatus, 1);
    // The parent level was created before the refusal; nothing was appended.
    EXPECT_EQ(server["ann@example.com"].folders.count("Archive"), 1u);
    EXPECT_EQ(server["ann@example.com"].folders.count("Archive/2004"), 0u);
    EXPECT_EQ(server.count("bob@other.org"), 1u);
    std::string log = logText();
    EXPECT_NE(log.find("Error: cannot create folder Archive/2004: Cannot create mailbox\n"
                       "Error: cannot migrate folder \"Archive/2004\"\n"),
              std::string::npos)
        << log;
    EXPECT_TRUE(log.ends_with("Result: migration failed\n"));
}

TEST_F(MigrateRun, ServerByeMidAccountEndsTheRun) {
    addInboxAccount("ann", "pw", numberedMessages(3));
    VantrelTarget target({"--bye-after", "1", "--fault-commands", "APPEND,X-APPEND"});
    auto run = migrate(target);
    ServerState server = target.stop();
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(server["ann@example.com"].folders["INBOX"].messages.size(), 1u);
    std::string log = logText();
    EXPECT_NE(log.find("Network error: cannot append message\n"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("Result: migration failed\n"));
}

TEST_F(MigrateRun, ConnectionLostWhileCreatingTheAccountIsNotTakenForAnExistingOne) {
    addInboxAccount("ann", "pw", {mboxMessage("Subject: a\n\na\n", "", "1")});
    VantrelTarget target({"--drop-after", "0", "--fault-commands", "X-CREATEUSER"});
    auto run = migrate(target);
    target.stop();
    EXPECT_EQ(run.exitStatus, 3);
    EXPECT_EQ(passText(), "");  // neither created nor found existing
    std::string log = logText();
    EXPECT_EQ(log.find("user already exist"), std::string::npos);
    EXPECT_NE(log.find("Network error: cannot create user\n\nError: cannot create user\n"), std::string::npos) << log;
    EXPECT_TRUE(log.ends_with("Result: migration failed\n"));
}

TEST_F(MigrateRun, QuietRunKeepsTheWholeLog) {
    addInboxAccount("ann", "pw", {mboxMessage("Subject: q\n\nq\n", "", "1")});
    VantrelTarget target({});
    auto run = migrate(target, {"-quiet"});
    target.stop();
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_EQ(run.out, "");
    std::string log = logText();
    EXPECT_NE(log.find("   - \"INBOX\", messages: 1\n"), std::string::npos);
    EXPECT_TRUE(log.ends_with("Result: migration successful\n"));
}

TEST_F(MigrateRun, TlsNeedsAVerifiedCertificateUnlessInsecureIsGiven) {
    addInboxAccount("ann", "pw", {mboxMessage("Subject: t\n\nt\n", "S", "1")});
    {
        VantrelTarget target({}, true);
        auto run = migrate(target, {"-ssl"});
        ServerState server = target.stop();
        EXPECT_EQ(run.exitStatus, 3);
        EXPECT_TRUE(server.empty());
        EXPECT_NE(logText().find("Network error: cannot connect to Vantrel\n"), std::string::npos);
    }
    TempDir second;
    workDir = second.path();
    VantrelTarget target({}, true);
    auto run = migrate(target, {"-ssl", "-insecure"});
    ServerState server = target.stop();
    EXPECT_EQ(run.exitStatus, 0) << run.out;
    EXPECT_NE(run.out.find("Warning: the server's TLS certificate is not verified (-insecure)\n"), std::string::npos);
    ASSERT_EQ(server["ann@example.com"].folders["INBOX"].messages.size(), 1u);
    EXPECT_EQ(server["ann@example.com"].folders["INBOX"].messages[0].data, "Subject: t\r\n\r\nt\r\n");
}

TEST_F(MigrateRun, SilentServerEndsTheRunAfterTheReadTimeout) {
    builder.addMacnt("", "ann", settings("", "pw"), infoText("1", {{"INBOX", "", "0", ""}}));
    // Commands: check login and logout, then the account's login, X-CREATEUSER
    // and X-SETUSER, which gets no answer.
    VantrelTarget target({"--stall-after", "4"});
    std::ostringstream log;
    tarmig::Migrator migrator(log, 1);
    migrator.passwordReport().setPath(work.path() + "/run.pass");
    migrator.initialize(store.path(), "127.0.0.1", static_cast<int>(target.port()), "master", true, false, "", "",
                        true, true);
    try {
        migrator.migrateAll("*", "*", "example.com");
        FAIL() << "the run did not end";
    } catch (const tarmig::CGNetworkException& e) {
        EXPECT_STREQ(e.what(), "cannot switch user");
    }
    EXPECT_NE(log.str().find("Network error: cannot switch user\n"), std::string::npos);
}

TEST_F(MigrateRun, AccountFailuresSkipOnlyThatAccount) {
    builder.addMacnt("", "ann", settings("", "pw"), infoText("1", {{"INBOX", "", "0", ""}}));
    std::string bob = builder.addMacnt("", "bob", settings("", "pw"), infoText("1", {}));
    std::remove((bob + "/account.info").c_str());
    std::string carol = builder.addMacnt("", "carol", settings("", "pw"), infoText("1", {}));
    std::remove((carol + "/account.settings").c_str());
    addInboxAccount("dave", "pw", {mboxMessage("Subject: d\n\nd\n", "", "1")});
    VantrelTarget target({"--refuse-setuser", "ann@example.com"});
    auto run = migrate(target);
    ServerState server = target.stop();

    EXPECT_EQ(run.exitStatus, 1);
    std::string log = logText();
    EXPECT_NE(log.find("Error: problem with identity switching\nError: cannot migrate mailbox <ann>\n"),
              std::string::npos);
    // Without an info file the folders come from disk: bob has none.
    EXPECT_EQ(log.find("Error: cannot migrate mailbox <bob>\n"), std::string::npos);
    EXPECT_EQ(server.count("bob@example.com"), 1u);
    EXPECT_NE(log.find("Error: cannot migrate mailbox <carol>\n"), std::string::npos);
    EXPECT_NE(run.out.find("Error: cannot migrate mailbox <carol>\n"), std::string::npos);
    EXPECT_EQ(server["dave@example.com"].folders["INBOX"].messages.size(), 1u);
    EXPECT_TRUE(server["ann@example.com"].folders["INBOX"].messages.empty());
    EXPECT_NE(log.find("Info: accounts migrated: 2, skipped (already existing): 0, failed: 2\n"), std::string::npos);
    EXPECT_TRUE(log.ends_with("Result: migration failed\n"));
}

}  // namespace
