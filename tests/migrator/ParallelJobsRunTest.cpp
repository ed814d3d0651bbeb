#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// Runs of the built binary with several accounts at once (-jobs) against the
// Vantrel test server, compared with runs of one account at a time.
namespace {

using namespace tarmig::testing;
using nlohmann::json;

// The server's content in a form two runs can be compared by: accounts and
// folders sorted by name, messages in the order they arrived.
std::string contentOf(const VantrelDump& dump) {
    std::map<std::string, std::string> accounts;
    for (const VantrelAccount& account : dump.accounts) {
        std::map<std::string, std::string> folders;
        for (const VantrelFolder& folder : account.folders) {
            std::string text = "  folder " + folder.name + " type " + folder.type + "\n";
            for (const VantrelMessage& m : folder.messages) {
                text += "    message via " + m.via + " date " + m.date + " flags";
                for (const std::string& flag : m.flags) text += " " + flag;
                text += "\n" + m.data + "\n";
            }
            folders[folder.name] = text;
        }
        std::string text = "account " + account.name + "@" + account.domain + " password " + account.password + "\n";
        for (const auto& [name, folder] : folders) text += folder;
        accounts[account.name + "@" + account.domain] = text;
    }
    std::string all;
    for (const auto& [name, text] : accounts) all += text;
    return all;
}

std::vector<std::string> sortedLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The log's "Info: " summary lines of counts (not the elapsed time).
std::string summaryOf(const std::string& log) {
    std::string summary;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("Info: accounts migrated") || line.starts_with("Info: folders migrated") ||
            line.starts_with("Info: messages appended") || line.starts_with("Info: bytes sent"))
            summary += line + "\n";
    }
    return summary;
}

std::vector<json> reportLines(const std::string& path) {
    std::vector<json> lines;
    std::istringstream text(readFile(path));
    for (std::string line; std::getline(text, line);) lines.push_back(json::parse(line));
    return lines;
}

// One account's lines in the log: from its account line to the next account
// line or domain line (or the summary).
struct AccountBlock {
    std::string domain;  // of the last domain line before it
    std::string text;
};

std::map<std::string, AccountBlock> accountBlocks(const std::string& log) {
    std::map<std::string, AccountBlock> blocks;
    std::istringstream in(log);
    std::string domain;
    AccountBlock* open = nullptr;
    const std::regex accountLine(R"(^ \+ mailbox <([^>]*)>.*)"), domainLine(R"(^domain \((.*)\)$)");
    for (std::string line; std::getline(in, line);) {
        std::smatch match;
        if (std::regex_match(line, match, domainLine)) {
            domain = match[1];
            open = nullptr;
        } else if (std::regex_match(line, match, accountLine)) {
            open = &blocks[match[1].str() + "@" + domain];
            open->domain = domain;
        } else if (line.empty() || line.starts_with("Info: accounts migrated")) {
            open = nullptr;
        }
        if (open != nullptr) open->text += line + "\n";
    }
    return blocks;
}

// The domain of the last domain line before `line` in the log, "" when none.
std::string domainBefore(const std::string& log, const std::string& line) {
    const std::size_t at = log.find(line);
    const std::size_t domain = at == std::string::npos ? std::string::npos : log.rfind("\ndomain (", at);
    if (domain == std::string::npos) return "";
    const std::size_t start = domain + 9;
    return log.substr(start, log.find(')', start) - start);
}

MboxMessage message(const std::string& subject, const std::string& flags, const std::string& uid) {
    MboxMessage m;
    m.data = "Subject: " + subject + "\n\n" + subject + " body\n";
    m.flags = flags;
    m.uid = uid;
    return m;
}

class ParallelJobsRun : public ::testing::Test {
protected:
    TempDir store;
    StoreBuilder builder{store.path()};
    std::vector<std::string> names;  // user@domain of every account added

    // An account whose folders are named after it (so its log lines can be
    // told from others'), each holding `count` messages with varied flags.
    void addAccount(const std::string& domain, const std::string& name, int folders, int count) {
        std::vector<FolderEntry> entries;
        for (int f = 0; f < folders; ++f)
            entries.push_back({f == 0 ? "INBOX" : name + "Folder" + std::to_string(f), "", std::to_string(count), ""});
        std::string path =
            builder.addMacnt(domain, name, settingsText({{"Password", name + "pw"}, {"RealName", name}}),
                             infoText("1", entries));
        const char* flags[] = {"", "S", "SF", "A", "D"};
        for (const FolderEntry& entry : entries) {
            std::vector<MboxMessage> messages;
            for (int i = 1; i <= count; ++i)
                messages.push_back(message(name + " " + entry.name + " " + std::to_string(i), flags[i % 5],
                                           std::to_string(i)));
            builder.addMboxFolder(path, entry.name, mboxText(messages));
        }
        names.push_back(name + "@" + (domain.empty() ? "example.com" : domain));
    }
    void addStore(int messagesPerFolder) {
        for (const char* name : {"ann", "bob", "carol", "dave"}) addAccount("", name, 3, messagesPerFolder);
        for (const char* name : {"erin", "frank", "grace"}) addAccount("b.org", name, 2, messagesPerFolder);
        for (const char* name : {"heidi", "ivan"}) addAccount("c.net", name, 2, messagesPerFolder);
    }

    struct Run {
        ToolRun tool;
        std::string log, pass, report;
    };
    Run migrate(const VantrelServer& server, const std::string& jobs, std::vector<std::string> extra = {}) {
        TempDir work;
        std::vector<std::string> args{"-path",     store.path(), "-primaryDomain", "example.com", "-migrate",
                                      "-server",   "127.0.0.1",  "-port",          std::to_string(server.port()),
                                      "-password", "master",     "-jobs",          jobs,
                                      "-report",   work.path() + "/run.jsonl"};
        args.insert(args.end(), extra.begin(), extra.end());
        Run run{runTool(args, work.path()), "", "", ""};
        auto logs = filesMatching(work.path(), "tarmig_", ".log");
        auto passes = filesMatching(work.path(), "tarmig_", ".pass");
        if (logs.size() == 1) run.log = readFile(logs[0]);
        if (passes.size() == 1) run.pass = readFile(passes[0]);
        run.report = work.path() + "/run.jsonl";
        reports.push_back(reportLines(run.report));
        return run;
    }
    std::vector<std::vector<json>> reports;
};

TEST_F(ParallelJobsRun, FourJobsGiveWhatOneGives) {
    addStore(12);
    VantrelServer one, four;
    Run serial = migrate(one, "1");
    Run parallel = migrate(four, "4");
    one.stop();
    four.stop();
    ASSERT_EQ(serial.tool.exitStatus, 0) << serial.tool.out;
    ASSERT_EQ(parallel.tool.exitStatus, 0) << parallel.tool.out;
    const std::string content = contentOf(one.dump());
    for (const std::string& name : names) EXPECT_NE(content.find("account " + name + " "), std::string::npos) << name;
    EXPECT_EQ(contentOf(four.dump()), content);
    EXPECT_EQ(sortedLines(parallel.pass), sortedLines(serial.pass));
    EXPECT_EQ(sortedLines(serial.pass).size(), names.size());
    EXPECT_EQ(summaryOf(parallel.log), summaryOf(serial.log));
    EXPECT_NE(summaryOf(serial.log).find("Info: accounts migrated: 9, skipped (already existing): 0, failed: 0\n"),
              std::string::npos)
        << serial.log;
    EXPECT_TRUE(parallel.log.ends_with("Result: migration successful\n"));
    // One report line per account and one for the run, with the same totals.
    ASSERT_EQ(reports[1].size(), names.size() + 1);
    EXPECT_EQ(reports[1].back()["totals"], reports[0].back()["totals"]);
    // Each domain is checked once, whatever the number of jobs: one master
    // login per domain and one per account.
    EXPECT_EQ(four.dump().stats.masterLogins, one.dump().stats.masterLogins);
    EXPECT_EQ(one.dump().stats.masterLogins, 3u + names.size());
}

TEST_F(ParallelJobsRun, TlsConnectionsSideBySide) {
    addStore(5);
    VantrelServer plain, tls({.tls = true});
    Run one = migrate(plain, "1");
    Run four = migrate(tls, "4", {"-ssl", "-insecure"});
    plain.stop();
    tls.stop();
    ASSERT_EQ(one.tool.exitStatus, 0) << one.tool.out;
    ASSERT_EQ(four.tool.exitStatus, 0) << four.tool.out;
    EXPECT_EQ(contentOf(tls.dump()), contentOf(plain.dump()));
    EXPECT_EQ(tls.dump().accounts.size(), names.size());
}

TEST_F(ParallelJobsRun, EachAccountsLinesStayTogetherUnderItsDomain) {
    addStore(20);
    VantrelServer server;
    Run run = migrate(server, "4");
    ASSERT_EQ(run.tool.exitStatus, 0) << run.tool.out;
    const auto blocks = accountBlocks(run.log);
    ASSERT_EQ(blocks.size(), names.size()) << run.log;
    for (const std::string& name : names) {
        ASSERT_EQ(blocks.count(name), 1u) << name << "\n" << run.log;
        const AccountBlock& block = blocks.at(name);
        const std::string user = name.substr(0, name.find('@'));
        EXPECT_EQ(block.domain, name.substr(name.find('@') + 1)) << block.text;
        EXPECT_NE(block.text.find("   Info: created user <" + name + ">"), std::string::npos) << block.text;
        // Every folder line of the account is in its block, and no other account's.
        int folderLines = 0;
        std::istringstream lines(block.text);
        for (std::string line; std::getline(lines, line);) {
            if (!line.starts_with("   - \"")) continue;
            ++folderLines;
            EXPECT_TRUE(line == "   - \"INBOX\", messages: 20" || line.starts_with("   - \"" + user + "Folder")) << line;
        }
        EXPECT_EQ(folderLines, user < "e" ? 3 : 2) << block.text;
    }
    // The console shows the same blocks, without the message counter.
    EXPECT_EQ(run.tool.out.find('\b'), std::string::npos);
    EXPECT_NE(run.tool.out.find(" + mailbox <ivan>, size: "), std::string::npos);
}

// The run's end, for a run that a network failure ended: every account begun
// is in the log with a report line, migrated whole or failed with an "Error: "
// line of its own.
void expectEveryAccountAccountedFor(const std::string& log, const std::vector<json>& report,
                                    const VantrelDump& dump, int messagesPerFolder) {
    const auto blocks = accountBlocks(log);
    std::map<std::string, json> lines;
    for (const json& line : report)
        if (line["type"] == "account")
            lines[line["account"].get<std::string>() + "@" + line["domain"].get<std::string>()] = line;
    EXPECT_EQ(lines.size(), blocks.size()) << log;
    int failed = 0;
    for (const auto& [name, block] : blocks) {
        ASSERT_EQ(lines.count(name), 1u) << name;
        const json& line = lines[name];
        if (line["status"] == "migrated") {
            const std::string user = name.substr(0, name.find('@'));
            const VantrelAccount* account = dump.account(user, name.substr(name.find('@') + 1));
            ASSERT_NE(account, nullptr) << name;
            for (const VantrelFolder& folder : account->folders)
                EXPECT_EQ(folder.messages.size(), static_cast<std::size_t>(messagesPerFolder)) << name;
        } else {
            ++failed;
            EXPECT_EQ(line["status"], "failed") << name;
            EXPECT_FALSE(line["errors"].empty()) << name;
            const bool named = block.text.find("Error: ") != std::string::npos ||
                               block.text.find("Network error: ") != std::string::npos ||
                               block.text.find("Network Error: ") != std::string::npos;
            EXPECT_TRUE(named) << block.text;
        }
    }
    EXPECT_GE(failed, 1);
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report.back()["type"], "run");
    EXPECT_EQ(report.back()["exit_status"], 3);
    EXPECT_EQ(report.back()["totals"]["accounts"]["failed"], failed);
}

TEST_F(ParallelJobsRun, DroppedConnectionStopsTheOtherJobsWithTheirAccountsReported) {
    addStore(40);
    // The connection that sends the 60th append is closed without an answer.
    VantrelServer server({.arguments = {"--drop-after", "59", "--fault-commands", "APPEND,X-APPEND"}});
    // A dropped connection with appends in flight is at times seen only when
    // its answers time out: keep that wait short.
    Run run = migrate(server, "4", {"-timeout", "5"});
    server.stop();
    EXPECT_EQ(run.tool.exitStatus, 3) << run.tool.out;
    EXPECT_NE(run.log.find("\nError: "), std::string::npos) << run.log;
    EXPECT_TRUE(run.log.ends_with("Result: migration failed\n"));
    expectEveryAccountAccountedFor(run.log, reports[0], server.dump(), 40);
}

TEST_F(ParallelJobsRun, ServerSayingByeStopsTheOtherJobs) {
    addStore(40);
    VantrelServer server({.arguments = {"--bye-after", "30", "--fault-commands", "APPEND,X-APPEND"}});
    Run run = migrate(server, "4", {"-timeout", "5"});
    server.stop();
    EXPECT_EQ(run.tool.exitStatus, 3) << run.tool.out;
    expectEveryAccountAccountedFor(run.log, reports[0], server.dump(), 40);
}

TEST_F(ParallelJobsRun, StalledConnectionEndsTheRunWithoutHangingTheOthers) {
    addStore(40);
    VantrelServer server({.arguments = {"--stall-after", "25", "--fault-commands", "APPEND,X-APPEND"}});
    Run run = migrate(server, "4", {"-timeout", "2"});
    server.stop();
    EXPECT_EQ(run.tool.exitStatus, 3) << run.tool.out;
    EXPECT_NE(run.log.find("Network error: Vantrel did not answer within 2 seconds (-timeout)\n"), std::string::npos)
        << run.log;
    expectEveryAccountAccountedFor(run.log, reports[0], server.dump(), 40);
}

TEST_F(ParallelJobsRun, FailuresInOneAccountLeaveTheOthersWhole) {
    addStore(10);
    // An account whose settings cannot be read fails in the walk, beside the jobs.
    std::remove((builder.addMacnt("c.net", "judy", settingsText({}), infoText("1", {})) + "/account.settings").c_str());
    VantrelServer server({.arguments = {"--refuse-create", "carolFolder1", "--refuse-append-marker",
                                        "erin INBOX 3 body", "--account", "heidi@c.net:old"}});
    Run run = migrate(server, "4");
    server.stop();
    EXPECT_EQ(run.tool.exitStatus, 1) << run.tool.out;
    const VantrelDump dump = server.dump();
    std::map<std::string, std::string> status;
    for (const json& line : reports[0])
        if (line["type"] == "account")
            status[line["account"].get<std::string>() + "@" + line["domain"].get<std::string>()] = line["status"];
    ASSERT_EQ(status.size(), names.size() + 1);
    EXPECT_EQ(status["judy@c.net"], "failed");
    EXPECT_EQ(domainBefore(run.log, "Error: cannot migrate mailbox <judy>\n"), "c.net") << run.log;
    for (const std::string& name : names) {
        const std::string expected = name == "carol@example.com" || name == "erin@b.org" ? "failed"
                                     : name == "heidi@c.net"                             ? "skipped"
                                                                                         : "migrated";
        EXPECT_EQ(status[name], expected) << name;
        if (expected != "migrated") continue;
        const VantrelAccount* account = dump.account(name.substr(0, name.find('@')), name.substr(name.find('@') + 1));
        ASSERT_NE(account, nullptr) << name;
        for (const VantrelFolder& folder : account->folders) EXPECT_EQ(folder.messages.size(), 10u) << name;
    }
    const auto blocks = accountBlocks(run.log);
    EXPECT_NE(blocks.at("carol@example.com").text.find("Error: cannot migrate folder \"carolFolder1\"\n"),
              std::string::npos);
    EXPECT_NE(blocks.at("erin@b.org").text.find("Error: cannot migrate message nr.: 3\n"), std::string::npos);
    EXPECT_NE(run.log.find("Info: accounts migrated: 6, skipped (already existing): 1, failed: 3\n"),
              std::string::npos)
        << run.log;
    EXPECT_NE(run.log.find("Info: messages appended: 189, failed: 1\n"), std::string::npos) << run.log;
}

}  // namespace
