#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Migrations by the built binary of stores that real servers leave behind:
// stale or missing info files, folders only on disk, message text that looks
// like a separator, entries that are no messages. Every message arrives, or a
// line says why and the run fails.
namespace {

using namespace tarmig::testing;

MboxMessage stored(const std::string& data, const std::string& uid) {
    MboxMessage m;
    m.data = data;
    m.uid = uid;
    return m;
}

std::string fixed(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\n' && (i == 0 || s[i - 1] != '\r')) out += '\r';
        out += s[i];
    }
    return out;
}

const std::string noInfo;  // for accounts whose info file is removed

class StoreFidelityRun : public ::testing::Test {
protected:
    TempDir storeDir, work;
    StoreBuilder builder{storeDir.path()};
    std::string settings = settingsText({{"Password", "pw"}});

    struct Result {
        ToolRun run;
        VantrelDump dump;
        std::string log;
    };

    Result migrate() {
        VantrelServer server;
        Result result;
        result.run = runTool({"-path", storeDir.path(), "-primaryDomain", "example.com", "-migrate", "-server",
                              "127.0.0.1", "-port", std::to_string(server.port()), "-password", "master"},
                             work.path());
        server.stop();
        result.dump = server.dump();
        auto logs = filesMatching(work.path(), "tarmig_", ".log");
        if (logs.size() == 1) result.log = readFile(logs[0]);
        return result;
    }

    // The data of every message in a folder of ann@example.com, in order.
    static std::vector<std::string> dataOf(const VantrelDump& dump, const std::string& folder,
                                           const std::string& user = "ann") {
        std::vector<std::string> data;
        const auto* account = dump.account(user, "example.com");
        const auto* f = account ? account->folder(folder) : nullptr;
        if (f) {
            for (const auto& m : f->messages) data.push_back(m.data);
        }
        return data;
    }
};

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST_F(StoreFidelityRun, MessageTextThatLooksLikeASeparatorArrivesWhole) {
    const std::string first = "Subject: re\n\nFrom <joe@example.com> wrote:\n> hello\nFrom <bad>(S 2) x\n"
                              "From <a>(S-3)\nthe end\n";
    const std::string second = "Subject: two\n\nbye\n";
    std::string ann = builder.addMacnt("", "ann", settings, infoText("1", {{"INBOX", "", "2", ""}}));
    builder.addMboxFolder(ann, "INBOX", mboxText({stored(first, "1"), stored(second, "2")}));

    Result r = migrate();
    EXPECT_EQ(0, r.run.exitStatus) << r.run.out;
    EXPECT_EQ((std::vector<std::string>{fixed(first), fixed(second)}), dataOf(r.dump, "INBOX"));
    EXPECT_FALSE(contains(r.log, "Error"));
    EXPECT_TRUE(r.log.ends_with("Result: migration successful\n"));
}

TEST_F(StoreFidelityRun, TextBeforeTheFirstSeparatorFailsTheRunWithAWarning) {
    std::string ann = builder.addMacnt("", "ann", settings, infoText("1", {{"INBOX", "", "1", ""}}));
    std::string path =
        builder.addMboxFolder(ann, "INBOX", "stray text\n" + mboxText({stored("Subject: a\n\nx\n", "1")}));
    std::string ben = builder.addMacnt("", "ben", settings, infoText("1", {{"INBOX", "", "1", ""}}));
    // White space before the first separator is no loss.
    builder.addMboxFolder(ben, "INBOX", "\r\n\n" + mboxText({stored("Subject: b\n\ny\n", "1")}));

    Result r = migrate();
    EXPECT_EQ(1, r.run.exitStatus);
    EXPECT_EQ((std::vector<std::string>{"Subject: a\r\n\r\nx\r\n"}), dataOf(r.dump, "INBOX"));
    EXPECT_EQ((std::vector<std::string>{"Subject: b\r\n\r\ny\r\n"}), dataOf(r.dump, "INBOX", "ben"));
    const std::string warning =
        "Warning: 11 bytes of \"" + path + "\" before its first message separator were not migrated\n";
    EXPECT_TRUE(contains(r.log, warning)) << r.log;
    EXPECT_TRUE(contains(r.run.out, warning)) << r.run.out;
    EXPECT_EQ(r.log.find("before its first message separator"), r.log.rfind("before its first message separator"));
    EXPECT_TRUE(r.log.ends_with("Result: migration failed\n"));
}

TEST_F(StoreFidelityRun, AFileWithBareLineFeedsSaysWhichLastBytesItGaveUp) {
    std::string ann = builder.addMacnt("", "ann", settings, infoText("1", {{"INBOX", "", "2", ""}}));
    const std::string separator1 = separatorLine(stored("", "1")) + "\n";
    const std::string first = "Subject: a\n\nbody\n";
    std::string path = builder.addMboxFolder(
        ann, "INBOX", separator1 + first + separatorLine(stored("", "2")) + "\nSubject: b\n\nbye\n");

    Result r = migrate();
    EXPECT_EQ(1, r.run.exitStatus);
    // "y" and its LF stand where the store puts CR LF.
    EXPECT_EQ((std::vector<std::string>{"Subject: a\r\n\r\nbod", "Subject: b\r\n\r\nbye\r\n"}),
              dataOf(r.dump, "INBOX"));
    const std::string warning = "Warning: 1 byte of \"" + path + "\" at offset " +
                                std::to_string(separator1.size() + first.size() - 2) +
                                ", the last before a message separator's line feed, was not migrated\n";
    EXPECT_TRUE(contains(r.log, warning)) << r.log;
    EXPECT_TRUE(contains(r.run.out, warning)) << r.run.out;
    EXPECT_TRUE(r.log.ends_with("Result: migration failed\n"));
}

TEST_F(StoreFidelityRun, TheInfoFileCountNeverDecidesWhatIsRead) {
    std::string ann = builder.addMacnt("", "ann", settings,
                                       "{#StorageUsed = #1; Fewer = {Messages = #1;}; Missing = {Messages = #0;}; "
                                       "More = {Messages = #5;}; NotANumber = {Messages = many;}; "
                                       "Zero = {Messages = #0;};}\n");
    builder.addMboxFolder(ann, "Fewer", mboxText({stored("1\n", "1"), stored("2\n", "2"), stored("3\n", "3")}));
    builder.addMboxFolder(ann, "More", mboxText({stored("m\n", "1")}));
    builder.addMboxFolder(ann, "NotANumber", mboxText({stored("n\n", "1")}));
    std::string zero = builder.addMdirFolder(ann, "Zero");
    builder.addMdirMessage(zero, "S", "20040220123456", "z1\n");
    builder.addMdirMessage(zero, "S", "20040220123456", "z2\n");

    Result r = migrate();
    EXPECT_EQ(0, r.run.exitStatus) << r.run.out;
    EXPECT_EQ((std::vector<std::string>{"1\r\n", "2\r\n", "3\r\n"}), dataOf(r.dump, "Fewer"));
    EXPECT_EQ((std::vector<std::string>{"m\r\n"}), dataOf(r.dump, "More"));
    EXPECT_EQ((std::vector<std::string>{"n\r\n"}), dataOf(r.dump, "NotANumber"));
    EXPECT_EQ((std::vector<std::string>{"z1\r\n", "z2\r\n"}), dataOf(r.dump, "Zero"));
    // A folder without storage that is said to be empty is an empty folder.
    ASSERT_NE(nullptr, r.dump.account("ann", "example.com")->folder("Missing")) << r.run.out;
    EXPECT_TRUE(dataOf(r.dump, "Missing").empty());

    for (const char* line : {"Warning: folder \"Fewer\": 3 messages read, the account's info file says 1\n",
                                    "Warning: folder \"More\": 1 messages read, the account's info file says 5\n",
                                    "Warning: folder \"NotANumber\": 1 messages read, the account's info file says 0\n",
                                    "Warning: folder \"Zero\": 2 messages read, the account's info file says 0\n"}) {
        EXPECT_TRUE(contains(r.log, line)) << line;
        EXPECT_FALSE(contains(r.run.out, line)) << line;  // log only
    }
    EXPECT_FALSE(contains(r.log, "Warning: folder \"Missing\""));
    EXPECT_FALSE(contains(r.log, "migrated from disk"));
    // The console ends each folder line with the messages found; no counter
    // shows a number above its total.
    EXPECT_TRUE(contains(r.run.out, "   - \"Fewer\", messages: 1/1"));
    EXPECT_TRUE(contains(r.run.out, "3/3\b \b\b \b\b \b3\n"));
    EXPECT_TRUE(contains(r.run.out, "   - \"Missing\", messages: 0\n"));
    std::smatch counter;
    for (auto it = r.run.out.cbegin();
         std::regex_search(it, r.run.out.cend(), counter, std::regex("([0-9]+)/([0-9]+)")); it = counter[0].second) {
        EXPECT_LE(std::stol(counter[1]), std::stol(counter[2])) << counter[0];
    }
    EXPECT_TRUE(r.log.ends_with("Result: migration successful\n"));
}

TEST_F(StoreFidelityRun, FoldersOnDiskAndAccountsWithoutInfoFileArrive) {
    // ann's info file lists her inbox and calendar only.
    std::string ann = builder.addMacnt(
        "", "ann", settings, infoText("1", {{"Calendar", "IPF.Appointment", "1", ""}, {"INBOX", "", "1", ""}}));
    builder.addMboxFolder(ann, "INBOX", mboxText({stored("in\n", "1")}));
    builder.addMboxFolder(ann, "Calendar", mboxText({stored("cal\n", "1")}));
    builder.addMboxFolder(ann, "Extra", mboxText({stored("extra\n", "1")}));
    builder.addMboxFolder(ann, "Projects/2004", mboxText({stored("p\n", "1")}));
    std::string notes = builder.addMdirFolder(ann, "Notes");
    // Created out of order, neither forwards nor backwards: they arrive in the
    // order of their numbers.
    for (const char* n : {"2", "10", "1"}) {
        writeFile(notes + "/" + n + "-S-20040220123456-x", std::string("note ") + n);
    }
    // bob has no info file at all, carl is a single-file account without one.
    std::string bob = builder.addMacnt("", "bob", settings, infoText("", {}));
    unlink((bob + "/account.info").c_str());
    builder.addMboxFolder(bob, "INBOX", mboxText({stored("bob\n", "1")}));
    builder.addMboxFolder(bob, "Sent", mboxText({stored("sent\n", "1")}));
    builder.addMboxAccount("", "carl", settings, "", mboxText({stored("carl\n", "1")}));
    unlink((builder.domainDir("") + "/carl.info").c_str());

    Result r = migrate();
    EXPECT_EQ(0, r.run.exitStatus) << r.run.out;
    EXPECT_EQ((std::vector<std::string>{"in\r\n"}), dataOf(r.dump, "INBOX"));
    EXPECT_EQ((std::vector<std::string>{"cal\r\n"}), dataOf(r.dump, "Calendar"));
    EXPECT_EQ((std::vector<std::string>{"extra\r\n"}), dataOf(r.dump, "Extra"));
    EXPECT_EQ((std::vector<std::string>{"p\r\n"}), dataOf(r.dump, "Projects/2004"));
    EXPECT_EQ((std::vector<std::string>{"note 1", "note 2", "note 10"}), dataOf(r.dump, "Notes"));
    EXPECT_EQ((std::vector<std::string>{"bob\r\n"}), dataOf(r.dump, "INBOX", "bob"));
    EXPECT_EQ((std::vector<std::string>{"sent\r\n"}), dataOf(r.dump, "Sent", "bob"));
    EXPECT_EQ((std::vector<std::string>{"carl\r\n"}), dataOf(r.dump, "INBOX", "carl"));

    // Listed folders keep their class and come first; the others are mail folders.
    const auto* account = r.dump.account("ann", "example.com");
    ASSERT_NE(nullptr, account);
    auto typeOf = [&](const std::string& name) {
        const auto* folder = account->folder(name);
        return folder ? folder->type : "(missing)";
    };
    EXPECT_EQ("X-CALENDAR", typeOf("Calendar"));
    std::vector<std::string> order;  // INBOX is there from the account's creation
    for (const auto& f : account->folders) order.push_back(f.name);
    EXPECT_EQ((std::vector<std::string>{"INBOX", "Calendar", "Extra", "Notes", "Projects", "Projects/2004"}), order);
    for (const std::string folder : {"Extra", "Notes", "Projects/2004"}) EXPECT_EQ("X-MAIL", typeOf(folder)) << folder;

    for (const std::string folder : {"Extra", "Notes", "Projects/2004"}) {
        const std::string warning =
            "Warning: folder \"" + folder + "\" is not in the account's info file, migrated from disk\n";
        EXPECT_TRUE(contains(r.log, warning)) << warning;
        EXPECT_TRUE(contains(r.run.out, warning)) << warning;
    }
    // ann's inbox is listed; bob's and carl's come from disk.
    std::regex inboxFromDisk("Warning: folder \"INBOX\" is not in the account's info file");
    EXPECT_EQ(2, std::distance(std::sregex_iterator(r.log.begin(), r.log.end(), inboxFromDisk),
                               std::sregex_iterator()));
    EXPECT_TRUE(contains(r.log, "Warning: cannot parse info file: cannot open file " + bob + "/account.info\n"));
    EXPECT_TRUE(contains(r.run.out, " + mailbox <bob>, size: 0B\n"));
    EXPECT_TRUE(r.log.ends_with("Result: migration successful\n"));
}

TEST_F(StoreFidelityRun, EntriesThatAreNoMessagesAndLinkedStorageFailTheRun) {
    std::string ann = builder.addMacnt(
        "", "ann", settings, infoText("1", {{"INBOX", "", "2", ""}, {"Leak", "", "1", ""}, {"Loop", "", "1", ""}}));
    std::string inbox = builder.addMdirFolder(ann, "INBOX");
    builder.addMdirMessage(inbox, "", "20040220123456", "one\n");
    builder.addMdirMessage(inbox, "", "20040220123456", "two\n");
    makeDirs(inbox + "/3-S-20040220123456-dir");
    ASSERT_EQ(0, mkfifo((inbox + "/4-S-20040220123456-fifo").c_str(), 0600));
    ASSERT_EQ(0, symlink("1-S-20040220123456-x", (inbox + "/5-S-20040220123456-link").c_str()));
    // Storage reached through links would upload the account's own files.
    ASSERT_EQ(0, symlink((ann + "/account.settings").c_str(), (ann + "/Leak.mbox").c_str()));
    ASSERT_EQ(0, symlink(ann.c_str(), (ann + "/Loop.mdir").c_str()));
    ASSERT_EQ(0, symlink(ann.c_str(), (ann + "/Unlisted.mdir").c_str()));

    Result r = migrate();
    EXPECT_EQ(1, r.run.exitStatus);
    EXPECT_EQ((std::vector<std::string>{"one\r\n", "two\r\n"}), dataOf(r.dump, "INBOX"));
    EXPECT_TRUE(dataOf(r.dump, "Leak").empty());
    EXPECT_TRUE(dataOf(r.dump, "Loop").empty());
    for (const auto& account : r.dump.accounts) {
        for (const auto& folder : account.folders) {
            for (const auto& m : folder.messages) EXPECT_FALSE(contains(m.data, "Password")) << folder.name;
        }
    }
    for (const std::string& line :
         {"Error: cannot read message \"" + inbox + "/3-S-20040220123456-dir\": not a regular file\n",
          "Error: cannot read message \"" + inbox + "/4-S-20040220123456-fifo\": not a regular file\n",
          "Error: cannot read message \"" + inbox + "/5-S-20040220123456-link\": not a regular file\n",
          "Error: folder storage \"" + ann + "/Unlisted.mdir\" is a symbolic link, not read\n",
          std::string("Error: cannot migrate folder \"Leak\"\n"),
          std::string("Error: cannot migrate folder \"Loop\"\n")}) {
        EXPECT_TRUE(contains(r.log, line)) << line;
        EXPECT_TRUE(contains(r.run.out, line)) << line;
    }
    EXPECT_TRUE(contains(r.log, "Error: cannot read folder \"Leak\": \"" + ann + "/Leak.mbox\" is a symbolic link\n"));
    EXPECT_TRUE(contains(r.log, "Error: cannot read folder \"Loop\": \"" + ann + "/Loop.mdir\" is a symbolic link\n"));
    EXPECT_TRUE(contains(r.log, "Info: folders migrated: 1, failed: 3\n")) << r.log;
    EXPECT_TRUE(contains(r.log, "Info: messages appended: 2, failed: 3\n"));
    EXPECT_TRUE(r.log.ends_with("Result: migration failed\n"));
}

TEST_F(StoreFidelityRun, MdirMessagesArriveInTheOrderOfTheirNumbers) {
    std::string ann = builder.addMacnt("", "ann", settings, infoText("1", {{"INBOX", "", "13", ""}}));
    std::string inbox = builder.addMdirFolder(ann, "INBOX");
    std::vector<std::string> expected;
    for (int n = 1; n <= 12; ++n) expected.push_back("message " + std::to_string(n));
    expected.push_back("no number");
    // Created in an order of their own; the directory lists them in yet another.
    for (int n : {7, 12, 1, 10, 3, 6, 11, 2, 9, 4, 8, 5}) {
        writeFile(inbox + "/" + std::to_string(n) + "-S-20040220123456-x", "message " + std::to_string(n));
    }
    writeFile(inbox + "/no number", "no number");

    Result r = migrate();
    EXPECT_EQ(0, r.run.exitStatus) << r.run.out;
    EXPECT_EQ(expected, dataOf(r.dump, "INBOX"));
}
