#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Migrations by the built binary with appends in flight (-window), compared
// with the same migration waiting for each answer.
namespace {

using namespace tarmig::testing;

// Everything the server keeps that a migration decides, in creation order.
std::string contentOf(const VantrelDump& dump) {
    std::ostringstream text;
    for (const VantrelAccount& account : dump.accounts) {
        text << "account " << account.name << "@" << account.domain << " " << account.password << " "
             << account.fullName << "\n";
        for (const VantrelFolder& folder : account.folders) {
            text << " folder " << folder.name << " " << folder.type << "\n";
            for (const VantrelMessage& m : folder.messages) {
                text << "  " << m.via << " " << m.date << " (";
                for (const std::string& flag : m.flags) text << flag << ";";
                text << ") " << m.data.size() << " " << m.data << "\n";
            }
        }
    }
    return text.str();
}

// The log without the lines that differ from run to run (times, the port)
// and without the store reader's lines, which precede the results of the
// appends in flight rather than follow each one.
std::string untimed(const std::string& log) {
    std::istringstream in(log);
    std::string line, kept;
    while (std::getline(in, line)) {
        if (line.starts_with("Start time") || line.starts_with("Finish time") || line.starts_with("Info: elapsed") ||
            line.starts_with("Vantrel hostname") || line.find(", time: ") != std::string::npos ||
            line.starts_with("    Info: read message"))
            continue;
        kept += line + "\n";
    }
    return kept;
}

MboxMessage numbered(int n, const std::string& flags) {
    MboxMessage m;
    m.data = "Subject: " + std::to_string(n) + "\n\nbody " + std::to_string(n) + "\n";
    m.flags = flags;
    m.uid = std::to_string(n);
    return m;
}

struct Outcome {
    int exitStatus = -1;
    std::string log;
    std::string content;
    VantrelStats stats;
};

class AppendWindowRun : public ::testing::Test {
protected:
    TempDir store;
    StoreBuilder builder{store.path()};

    Outcome migrate(const std::vector<std::string>& serverArguments, const std::vector<std::string>& extra) {
        VantrelServer server({.arguments = serverArguments});
        TempDir work;
        std::vector<std::string> args{"-path", store.path(), "-primaryDomain", "example.com", "-migrate",
                                      "-server", "127.0.0.1", "-port", std::to_string(server.port()),
                                      "-password", "master"};
        args.insert(args.end(), extra.begin(), extra.end());
        Outcome outcome;
        outcome.exitStatus = runTool(args, work.path()).exitStatus;
        auto logs = filesMatching(work.path(), "tarmig_", ".log");
        outcome.log = logs.size() == 1 ? untimed(readFile(logs[0])) : "";
        server.stop();
        VantrelDump dump = server.dump();
        outcome.content = contentOf(dump);
        outcome.stats = dump.stats;
        return outcome;
    }
    // ann: an INBOX longer than the default window with mixed flags, a large
    // message and a typed mdir folder; joe: a single-file account.
    void buildStore(int inboxMessages, bool withLarge = true) {
        std::vector<MboxMessage> inbox;
        const char* flags[] = {"", "S", "SA", "F", "D"};
        for (int n = 1; n <= inboxMessages; ++n) inbox.push_back(numbered(n, flags[n % 5]));
        MboxMessage large = numbered(0, "S");
        large.data += std::string(300000, 'L') + "\n";
        if (withLarge) inbox.insert(inbox.begin() + inboxMessages / 2, large);
        std::string ann = builder.addMacnt(
            "", "ann", settingsText({{"Password", "pw"}}),
            infoText("1", {{"INBOX", "", std::to_string(inbox.size()), ""}, {"Calendar", "IPF.Appointment", "3", ""}}));
        builder.addMboxFolder(ann, "INBOX", mboxText(inbox));
        std::string calendar = builder.addMdirFolder(ann, "Calendar");
        for (int n = 1; n <= 3; ++n)
            builder.addMdirMessage(calendar, "F", "2004030508191" + std::to_string(n),
                                   "Subject: c" + std::to_string(n) + "\n\nat nine\n");
        builder.addMboxAccount("", "joe", settingsText({{"Password", "jp"}}), infoText("1", {{"INBOX", "", "2", ""}}),
                               mboxText({numbered(1, "S"), numbered(2, "")}));
    }
};

TEST_F(AppendWindowRun, DefaultWindowGivesTheSameMigrationAsWindowOne) {
    buildStore(70);
    Outcome one = migrate({}, {"-window", "1"});
    Outcome windowed = migrate({}, {});
    EXPECT_EQ(one.exitStatus, 0) << one.log;
    EXPECT_EQ(windowed.exitStatus, 0) << windowed.log;
    EXPECT_NE(one.content.find("X-APPEND"), std::string::npos);
    EXPECT_EQ(windowed.content, one.content);
    EXPECT_EQ(windowed.log, one.log);
    EXPECT_EQ(windowed.stats.commands, one.stats.commands);
    EXPECT_EQ(windowed.stats.appends, 76u);
    EXPECT_NE(one.log.find("Info: messages appended: 76, failed: 0\n"), std::string::npos);
}

TEST_F(AppendWindowRun, RefusalsInTheMiddleOfTheWindowReportThoseMessagesOnly) {
    buildStore(40);
    Outcome one = migrate({"--refuse-append", "3", "--refuse-append", "20"}, {"-window", "1"});
    Outcome windowed = migrate({"--refuse-append", "3", "--refuse-append", "20"}, {"-window", "16"});
    EXPECT_EQ(windowed.exitStatus, 1);
    EXPECT_EQ(windowed.content, one.content);
    EXPECT_EQ(windowed.log, one.log);
    // joe's two messages come first: the third append is the calendar's first.
    EXPECT_NE(windowed.log.find("   - \"Calendar\", messages: 3\n"
                                "Error: append message error\nError: cannot migrate message nr.: 1\n"),
              std::string::npos);
    EXPECT_NE(windowed.log.find("Error: append message error\nError: cannot migrate message nr.: 15\n"),
              std::string::npos);
    EXPECT_NE(windowed.log.find("Info: messages appended: 44, failed: 2\n"), std::string::npos);
}

TEST_F(AppendWindowRun, ServerFallingSilentWithAppendsInFlightNamesEachUnconfirmedMessage) {
    buildStore(10, false);
    const std::vector<std::string> stall{"--stall-after", "9", "--fault-commands", "APPEND,X-APPEND"};
    Outcome windowed = migrate(stall, {"-window", "8", "-timeout", "2"});
    EXPECT_EQ(windowed.exitStatus, 3);
    EXPECT_EQ(windowed.stats.appends, 9u);
    // joe's two and the calendar's three messages go first. In the INBOX the
    // fifth message carries the network error; the others sent behind it are
    // each named, and none of them is sent again.
    std::string expected;
    for (int n = 6; n <= 10; ++n)
        expected += "Error: cannot migrate message nr.: " + std::to_string(n) +
                    ", unconfirmed: the connection broke before its answer (the server may have stored it)\n";
    expected += "Network error: cannot append message\n";
    EXPECT_NE(windowed.log.find(expected), std::string::npos) << windowed.log;
    EXPECT_NE(windowed.log.find("Info: messages appended: 9, failed: 5\n"), std::string::npos) << windowed.log;

    // Waiting for each answer, only the fifth is lost with the run, as before.
    Outcome one = migrate(stall, {"-window", "1", "-timeout", "2"});
    EXPECT_EQ(one.stats.appends, 9u);
    EXPECT_EQ(one.log.find("unconfirmed"), std::string::npos);
    EXPECT_NE(one.log.find("Network error: cannot append message\n"), std::string::npos);
    EXPECT_NE(one.log.find("Info: messages appended: 9, failed: 0\n"), std::string::npos);
}

}  // namespace
