#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "migrator/ErrorLines.h"
#include "migrator/RunReport.h"

// The report's JSON lines and the recorder of an account's error lines.
namespace {

using namespace tarmig;
using nlohmann::json;

TEST(RunReport, AccountLineCarriesEveryFieldFirstItsType) {
    AccountReport account;
    account.domain = "example.com";
    account.account = "ann \"q\"";
    account.status = AccountReport::Failed;
    account.counts = {3, 1, 7, 2, 4096};
    account.seconds = 1.5;
    account.errors = {"Error: cannot migrate message nr.: 2", "Error: bad \xff byte"};
    std::string text = accountReportLine(account);
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_TRUE(text.starts_with(R"({"type":"account",)")) << text;
    json line = json::parse(text);
    EXPECT_EQ(line["domain"], "example.com");
    EXPECT_EQ(line["account"], "ann \"q\"");
    EXPECT_EQ(line["status"], "failed");
    EXPECT_EQ(line["folders"], json({{"migrated", 3}, {"failed", 1}}));
    EXPECT_EQ(line["messages"], json({{"appended", 7}, {"failed", 2}, {"already_present", 0}}));
    EXPECT_EQ(line["bytes"], 4096);
    EXPECT_DOUBLE_EQ(line["seconds"].get<double>(), 1.5);
    ASSERT_EQ(line["errors"].size(), 2u);
    EXPECT_EQ(line["errors"][0], "Error: cannot migrate message nr.: 2");
    // A byte that is not UTF-8 is replaced rather than ending the run.
    EXPECT_EQ(line["errors"][1], "Error: bad \xef\xbf\xbd byte");

    account.status = AccountReport::Skipped;
    EXPECT_EQ(json::parse(accountReportLine(account))["status"], "skipped");
    account.status = AccountReport::Migrated;
    account.errors.clear();
    json migrated = json::parse(accountReportLine(account));
    EXPECT_EQ(migrated["status"], "migrated");
    EXPECT_TRUE(migrated["errors"].is_array() && migrated["errors"].empty());
}

TEST(RunReport, RunLineCarriesTotalsAndExitStatus) {
    RunReportTotals run;
    run.successful = false;
    run.exitStatus = 3;
    run.seconds = 12.25;
    run.accountsMigrated = 5;
    run.accountsSkipped = 2;
    run.accountsFailed = 1;
    run.counts.messagesAppended = 40;
    run.counts.messagesFailed = 3;
    run.counts.bytesSent = 123456789012LL;
    std::string text = runReportLine(run);
    EXPECT_TRUE(text.starts_with(R"({"type":"run",)")) << text;
    json line = json::parse(text);
    EXPECT_EQ(line["result"], "failed");
    EXPECT_EQ(line["exit_status"], 3);
    EXPECT_DOUBLE_EQ(line["seconds"].get<double>(), 12.25);
    EXPECT_EQ(line["totals"]["accounts"], json({{"migrated", 5}, {"skipped", 2}, {"failed", 1}}));
    EXPECT_EQ(line["totals"]["messages"], json({{"appended", 40}, {"failed", 3}, {"already_present", 0}}));
    EXPECT_EQ(line["totals"]["bytes"], 123456789012LL);
    run.successful = true;
    EXPECT_EQ(json::parse(runReportLine(run))["result"], "successful");

    std::ostringstream file;
    RunReport report;
    report.write("ignored");
    report.setStream(&file);
    report.write(text);
    EXPECT_EQ(file.str(), text + "\n");
}

TEST(ErrorLines, KeepsErrorLinesWhileRecordingAndPassesEverythingOn) {
    std::ostringstream log;
    ErrorLines recorder(log.rdbuf());
    std::ostream out(&recorder);
    out << "Error: before the account\n";
    recorder.start();
    out << " + mailbox <ann>\n   - \"INBOX\", messages: " << 3 << "\n";
    out << "\nError: cannot migrate message nr.: " << 2 << "\n" << std::flush;
    out << "Network error: cannot append\nWarning: Error: not at the start\n";
    out << "Error: cannot create folder x: the server refused to create x\n";
    std::vector<std::string> lines = recorder.stop();
    out << "Error: after the account\n";
    EXPECT_EQ(lines, (std::vector<std::string>{"Error: cannot migrate message nr.: 2",
                                               "Error: cannot create folder x: the server refused to create x"}));
    EXPECT_TRUE(log.str().starts_with("Error: before the account\n + mailbox <ann>\n   - \"INBOX\", messages: 3\n"));
    EXPECT_TRUE(log.str().ends_with("refused to create x\nError: after the account\n"));
    recorder.start();
    EXPECT_TRUE(recorder.stop().empty());
    // The prefix may come in pieces, and a line that only begins like it is not one.
    recorder.start();
    out << "Err" << "or" << ':' << " split " << "prefix\nErro\nE" << "rr: no\n";
    EXPECT_EQ(recorder.stop(), (std::vector<std::string>{"Error: split prefix"}));
}

}  // namespace
