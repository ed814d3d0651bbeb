#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "migrator/RunProgress.h"
#include "migrator/StatusLine.h"

// The terminal's status line: its text, its place below the console lines,
// and how often it is drawn.
namespace {

using namespace tarmig;
using namespace std::chrono_literals;
using Clock = StatusLine::Clock;

const std::string erase = "\r\033[K";

TEST(StatusLine, TextSaysAccountsMessagesBytesRateAndTimeToGo) {
    RunProgress::Snapshot now;
    now.accountsDone = 12;
    now.accountsTotal = 300;
    now.messages = 4521;
    now.bytes = 10 * 1048576;
    now.totalBytes = 70 * 1048576;
    // 60 MB to go at 2 MB/s: half a minute.
    EXPECT_EQ(StatusLine::render(now, 2.0 * 1048576),
              "accounts 12/300, messages 4521, 10.0MB of 70.0MB, 2.0MB/s, ETA 0:00:30");
    EXPECT_EQ(StatusLine::render(now, 1.0), "accounts 12/300, messages 4521, 10.0MB of 70.0MB, 1B/s, ETA 17476:16:00");

    // Nothing to divide by: no rate yet, or no total from the info files.
    EXPECT_EQ(StatusLine::render(now, std::nullopt),
              "accounts 12/300, messages 4521, 10.0MB of 70.0MB, rate unknown, ETA unknown");
    now.totalBytes.reset();
    EXPECT_EQ(StatusLine::render(now, 1024.0),
              "accounts 12/300, messages 4521, 10.0MB of unknown, 1.0KB/s, ETA unknown");

    // Line-end fixing can send more than the info files announced.
    now.totalBytes = 5 * 1048576;
    EXPECT_EQ(StatusLine::render(now, 1024.0),
              "accounts 12/300, messages 4521, 10.0MB of 5.0MB, 1.0KB/s, ETA 0:00:00");
    EXPECT_EQ(StatusLine::render(now, std::nullopt),
              "accounts 12/300, messages 4521, 10.0MB of 5.0MB, rate unknown, ETA 0:00:00");

    // An incremental run: what the target already holds is done without
    // being sent, so only the rest is left to go.
    now.totalBytes = 70 * 1048576;
    now.bytesPresent = 40 * 1048576;
    EXPECT_EQ(StatusLine::render(now, 2.0 * 1048576),
              "accounts 12/300, messages 4521, 50.0MB of 70.0MB, 2.0MB/s, ETA 0:00:10");
}

TEST(StatusLine, ConsoleLinesGoAboveItWholeAndTheLastPartWaitsForItsEnd) {
    std::ostringstream console;
    RunProgress progress;
    progress.setTotals(2, 2048);
    StatusLine status(console, progress, 200);

    status.write(" + mailbox <ann>, size: 1.0KB");
    EXPECT_EQ(console.str(), "") << "a line is not written before its end";
    status.write("\n   - \"INBOX\", messages: ");
    const std::string line = "accounts 0/2, messages 0, 0B of 2.0KB, rate unknown, ETA unknown";
    EXPECT_EQ(console.str(), " + mailbox <ann>, size: 1.0KB\n" + erase + line);

    progress.messageSent(100);
    status.write("1\n");
    EXPECT_EQ(console.str(), " + mailbox <ann>, size: 1.0KB\n" + erase + line + erase + "   - \"INBOX\", messages: 1\n" +
                                 erase + "accounts 0/2, messages 1, 100B of 2.0KB, rate unknown, ETA unknown");

    // At the end the line goes and what is left of the console text follows.
    console.str("");
    status.write("Result: ");
    status.stop();
    EXPECT_EQ(console.str(), erase + "Result: ");
    status.write("successful\n");
    EXPECT_EQ(console.str(), erase + "Result: successful\n");
}

TEST(StatusLine, DrawnAtMostEveryIntervalCutToTheTerminalAndRatedOverTheLastSeconds) {
    std::ostringstream console;
    RunProgress progress;
    progress.setTotals(1, 100 * 1048576);
    StatusLine status(console, progress, 40);
    const Clock::time_point start = Clock::now();

    status.refresh(start);
    status.refresh(start + StatusLine::redrawInterval / 2);
    EXPECT_EQ(console.str(), erase + "accounts 0/1, messages 0, 0B of 100.0MB");
    EXPECT_EQ(console.str().size(), erase.size() + 39) << "the line never reaches the last column";

    StatusLine wide(console, progress, 500);
    console.str("");
    wide.refresh(start);
    progress.messageSent(4 * 1048576);
    wide.refresh(start + 2s);
    EXPECT_NE(console.str().find("4.0MB of 100.0MB, 2.0MB/s, ETA 0:00:48"), std::string::npos) << console.str();

    // The rate follows the last seconds, not the whole run: 10 MB in the
    // last 10 s, where the run's average would be 14 MB in 22 s.
    wide.refresh(start + 2s + StatusLine::rateSpan);
    console.str("");
    progress.messageSent(10 * 1048576);
    wide.refresh(start + 2s + 2 * StatusLine::rateSpan);
    EXPECT_NE(console.str().find("14.0MB of 100.0MB, 1.0MB/s,"), std::string::npos) << console.str();
}

TEST(StatusLine, MovesOnItsOwnWhileNothingIsWritten) {
    std::ostringstream console;
    RunProgress progress;
    progress.setTotals(3, std::nullopt);
    {
        StatusLine status(console, progress, 200);
        status.start();
        progress.accountDone();
        std::this_thread::sleep_for(1500ms);
    }
    EXPECT_NE(console.str().find("accounts 1/3, messages 0, 0B of unknown"), std::string::npos) << console.str();
    EXPECT_TRUE(console.str().ends_with(erase)) << "the line is erased when it stops";
}

}  // namespace
