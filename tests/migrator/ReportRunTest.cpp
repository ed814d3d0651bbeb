#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// The JSON Lines report of runs of the built binary against the Vantrel test
// server, checked against what arrived and against the log's summary.
namespace {

using namespace tarmig::testing;
using nlohmann::json;

MboxMessage message(const std::string& subject) {
    MboxMessage m;
    m.data = "Subject: " + subject + "\n\n" + subject + "\n";
    return m;
}

std::vector<json> reportLines(const std::string& path) {
    std::vector<json> lines;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);) lines.push_back(json::parse(line));
    return lines;
}

std::uint64_t bytesStored(const VantrelDump& dump, const std::string& user) {
    std::uint64_t bytes = 0;
    if (const VantrelAccount* account = dump.account(user, "example.com"))
        for (const VantrelFolder& folder : account->folders)
            for (const VantrelMessage& stored : folder.messages) bytes += stored.data.size();
    return bytes;
}


class ReportRun : public ::testing::Test {
protected:
    TempDir store, work;
    StoreBuilder builder{store.path()};
    std::string report = work.path() + "/run.jsonl";

    std::vector<std::string> arguments(const VantrelServer& server, const std::string& password = "master") {
        return {"-path", store.path(), "-primaryDomain", "example.com", "-migrate", "-server", "127.0.0.1",
                "-port", std::to_string(server.port()), "-password", password, "-report", report};
    }
    ToolRun migrate(const VantrelServer& server, const std::string& password = "master") {
        return runTool(arguments(server, password), work.path());
    }
    void addAccount(const std::string& name, const std::vector<std::pair<std::string, int>>& folders) {
        std::vector<FolderEntry> entries;
        for (const auto& [folder, count] : folders) entries.push_back({folder, "", std::to_string(count), ""});
        std::string account = builder.addMacnt("", name, settingsText({{"Password", "pw"}}), infoText("1", entries));
        for (const auto& [folder, count] : folders) {
            std::vector<MboxMessage> stored;
            for (int i = 1; i <= count; ++i) stored.push_back(message(name + folder + std::to_string(i)));
            builder.addMboxFolder(account, folder, mboxText(stored));
        }
    }
};

TEST_F(ReportRun, OneLinePerAccountAndTheRunMatchTheServerAndTheSummary) {
    addAccount("ann", {{"INBOX", 2}, {"Work", 1}});
    addAccount("bob", {{"INBOX", 1}});
    addAccount("carol", {{"INBOX", 2}, {"Refused", 1}});
    addAccount("dave", {{"INBOX", 1}});
    VantrelServer server({.arguments = {"--account", "bob@example.com:old", "--refuse-append-marker",
                                        "carolINBOX2", "--refuse-create", "Refused", "--refuse-createuser",
                                        "dave@example.com"}});
    ToolRun run = migrate(server);
    server.stop();
    VantrelDump dump = server.dump();
    auto logs = filesMatching(work.path(), "tarmig_", ".log");
    ASSERT_EQ(logs.size(), 1u);
    std::string log = readFile(logs[0]);

    EXPECT_EQ(run.exitStatus, 1);
    std::vector<json> lines = reportLines(report);
    ASSERT_EQ(lines.size(), 5u) << readFile(report);
    // The accounts come in the store's order, each once; the run's line is last.
    std::map<std::string, json> accounts;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["type"], "account");
        accounts[lines[i]["account"]] = lines[i];
    }
    ASSERT_EQ(accounts.size(), 4u);
    for (const json& line : lines) EXPECT_GE(line["seconds"].get<double>(), 0.0);

    const json& ann = accounts["ann"];
    EXPECT_EQ(ann["type"], "account");
    EXPECT_EQ(ann["domain"], "example.com");
    EXPECT_EQ(ann["account"], "ann");
    EXPECT_EQ(ann["status"], "migrated");
    EXPECT_EQ(ann["folders"], json({{"migrated", 2}, {"failed", 0}}));
    EXPECT_EQ(ann["messages"], json({{"appended", 3}, {"failed", 0}, {"already_present", 0}}));
    EXPECT_EQ(ann["bytes"], bytesStored(dump, "ann"));
    EXPECT_GT(bytesStored(dump, "ann"), 0u);
    EXPECT_TRUE(ann["errors"].empty());

    const json& bob = accounts["bob"];
    EXPECT_EQ(bob["account"], "bob");
    EXPECT_EQ(bob["status"], "skipped");
    EXPECT_EQ(bob["messages"]["appended"], 0);
    EXPECT_EQ(bob["bytes"], 0);
    EXPECT_TRUE(bob["errors"].empty());

    const json& carol = accounts["carol"];
    EXPECT_EQ(carol["account"], "carol");
    EXPECT_EQ(carol["status"], "failed");
    EXPECT_EQ(carol["folders"], json({{"migrated", 1}, {"failed", 1}}));
    EXPECT_EQ(carol["messages"], json({{"appended", 1}, {"failed", 1}, {"already_present", 0}}));
    EXPECT_EQ(carol["bytes"], bytesStored(dump, "carol"));
    const std::vector<std::string> errors = carol["errors"];
    EXPECT_NE(std::find(errors.begin(), errors.end(), "Error: cannot migrate message nr.: 2"), errors.end());
    EXPECT_NE(std::find(errors.begin(), errors.end(), "Error: cannot migrate folder \"Refused\""), errors.end());
    for (const std::string& error : errors) EXPECT_NE(log.find(error + "\n"), std::string::npos) << error;

    // An account that fails as a whole has its line, with both of its errors.
    const json& dave = accounts["dave"];
    EXPECT_EQ(dave["status"], "failed");
    EXPECT_EQ(dave["messages"], json({{"appended", 0}, {"failed", 0}, {"already_present", 0}}));
    EXPECT_EQ(dave["errors"], json({"Error: cannot create user <dave@example.com>: Licence limit reached",
                                    "Error: cannot migrate mailbox <dave>"}));

    const json& total = lines[4];
    EXPECT_EQ(total["type"], "run");
    EXPECT_EQ(total["result"], "failed");
    EXPECT_EQ(total["exit_status"], run.exitStatus);
    EXPECT_EQ(total["totals"]["accounts"], json({{"migrated", 1}, {"skipped", 1}, {"failed", 2}}));
    EXPECT_EQ(total["totals"]["messages"], json({{"appended", 4}, {"failed", 1}, {"already_present", 0}}));
    const std::uint64_t bytes = bytesStored(dump, "ann") + bytesStored(dump, "carol");
    EXPECT_EQ(total["totals"]["bytes"], bytes);
    EXPECT_NE(log.find("Info: accounts migrated: 1, skipped (already existing): 1, failed: 2\n"), std::string::npos);
    EXPECT_NE(log.find("Info: messages appended: 4, failed: 1\nInfo: bytes sent: " + std::to_string(bytes) + " "),
              std::string::npos)
        << log;
}

TEST_F(ReportRun, RunEndedByTheTargetHasItsExitStatusInTheLastLine) {
    addAccount("ann", {{"INBOX", 1}});
    VantrelServer server;
    ToolRun run = migrate(server, "wrong");
    server.stop();

    EXPECT_EQ(run.exitStatus, 3);
    std::vector<json> lines = reportLines(report);
    ASSERT_EQ(lines.size(), 1u) << readFile(report);
    EXPECT_EQ(lines[0]["type"], "run");
    EXPECT_EQ(lines[0]["result"], "failed");
    EXPECT_EQ(lines[0]["exit_status"], 3);
    EXPECT_EQ(lines[0]["totals"]["accounts"], json({{"migrated", 0}, {"skipped", 0}, {"failed", 0}}));
}

TEST_F(ReportRun, AccountWhoseConnectionIsLostHasItsLineWithTheErrorThatEndedTheRun) {
    addAccount("ann", {{"Work", 1}});
    VantrelServer server({.arguments = {"--bye-after", "0", "--fault-commands", "CREATE"}});
    ToolRun run = migrate(server);
    server.stop();
    auto logs = filesMatching(work.path(), "tarmig_", ".log");
    ASSERT_EQ(logs.size(), 1u);
    std::string log = readFile(logs[0]);

    EXPECT_EQ(run.exitStatus, 3);
    std::vector<json> lines = reportLines(report);
    ASSERT_EQ(lines.size(), 2u) << readFile(report);
    EXPECT_EQ(lines[0]["account"], "ann");
    EXPECT_EQ(lines[0]["status"], "failed");
    ASSERT_FALSE(lines[0]["errors"].empty());
    // The last is the line the log ends the run with.
    const std::string last = lines[0]["errors"].back();
    EXPECT_NE(log.find("\n" + last + "\n"), std::string::npos) << last << "\n" << log;
    EXPECT_EQ(lines[1]["exit_status"], 3);
    EXPECT_EQ(lines[1]["totals"]["accounts"], json({{"migrated", 0}, {"skipped", 0}, {"failed", 1}}));
}

TEST_F(ReportRun, KilledRunKeepsTheLineOfEveryAccountThatEnded) {
    addAccount("ann", {{"INBOX", 1}});
    addAccount("bob", {{"INBOX", 1}});
    addAccount("carol", {{"INBOX", 1}});
    // The third append gets no answer: the tool waits in the last account.
    VantrelServer server({.arguments = {"--stall-after", "2", "--fault-commands", "APPEND,X-APPEND"}});
    pid_t tool = startTool(arguments(server), work.path());
    ASSERT_GT(tool, 0);
    auto lineCount = [&] {
        std::string text = readFile(report);
        return std::count(text.begin(), text.end(), '\n');
    };
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (lineCount() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(tool, SIGKILL);
    int status = 0;
    waitpid(tool, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the tool ended before it was killed";
    server.stop();

    std::vector<json> lines = reportLines(report);
    ASSERT_EQ(lines.size(), 2u) << readFile(report);
    for (const json& line : lines) {
        EXPECT_EQ(line["type"], "account");
        EXPECT_EQ(line["status"], "migrated");
    }
}

TEST_F(ReportRun, ReportThatCannotBeCreatedStopsTheRunBeforeItStarts) {
    addAccount("ann", {{"INBOX", 1}});
    report = work.path() + "/missing/run.jsonl";
    VantrelServer server;
    ToolRun run = migrate(server);
    server.stop();

    EXPECT_EQ(run.exitStatus, 2);
    EXPECT_NE(run.out.find("Argument error: cannot create the report file \"" + report + "\"\n"), std::string::npos)
        << run.out;
    EXPECT_TRUE(filesMatching(work.path(), "tarmig_", "").empty());
    EXPECT_TRUE(server.dump().accounts.empty());
}

}  // namespace
