#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>

#include "migrator/AccountOutput.h"
#include "migrator/HeldLog.h"
#include "migrator/RunOutput.h"
#include "support/ConsoleCapture.h"

// What an account job writes, at once or held until the account ends.
namespace {

using tarmig::testing::ConsoleCapture;

class DirectOutput : public ::testing::Test {
protected:
    std::ostringstream log;
    tarmig::RunOutput run{log};
    tarmig::AccountOutput output{run, false};
    ConsoleCapture console;
};

TEST_F(DirectOutput, ProgressCounterIsErasedInPlace) {
    int length = output.printProgress(7, 120);
    EXPECT_EQ(length, 5);
    output.clearOutput(length);
    EXPECT_EQ(console.text(), "7/120\b \b\b \b\b \b\b \b\b \b");
    EXPECT_EQ(log.str(), "");
}

TEST_F(DirectOutput, ReplacedCounterIsErasedThenPrinted) {
    int length = output.printProgress(9, 10);
    length = output.replaceProgress(length, 10, 10);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(console.text(), "9/10\b \b\b \b\b \b\b \b10/10");
    EXPECT_EQ(output.printProgress(12, 3), 4);  // the counter may pass its total
}

TEST_F(DirectOutput, QuietWritesTheLogAndNoCounter) {
    run.setQuiet(true);
    EXPECT_EQ(output.printProgress(12, 3), 0);
    output.clearOutput(4);
    output << "Info: same\n" << 7;
    output.console("\n");
    EXPECT_EQ(console.text(), "");
    EXPECT_EQ(log.str(), "Info: same\n7");
}

TEST_F(DirectOutput, LinesGoOutAtOnceAndErrorLinesAreRecorded) {
    output.startErrors();
    output << "   - \"INBOX\", messages: ";
    output.log() << 3 << "\n" << std::flush;
    output << "Error: cannot migrate message nr.: 2\n";
    EXPECT_EQ(log.str(), "   - \"INBOX\", messages: 3\nError: cannot migrate message nr.: 2\n");
    EXPECT_EQ(console.text(), "   - \"INBOX\", messages: Error: cannot migrate message nr.: 2\n");
    output.finish("example.com");  // nothing held, nothing repeated
    EXPECT_EQ(log.str(), "   - \"INBOX\", messages: 3\nError: cannot migrate message nr.: 2\n");
    EXPECT_EQ(output.stopErrors(), std::vector<std::string>{"Error: cannot migrate message nr.: 2"});
}

TEST(HeldOutput, AccountsWrittenWholeUnderTheirDomainLine) {
    std::ostringstream log;
    tarmig::RunOutput run{log};
    ConsoleCapture console;
    tarmig::AccountOutput ann{run, true}, bob{run, true};
    run.writeDomainLine("a.com");
    ann << " + mailbox <ann>\n";
    bob << " + mailbox <bob>\n";
    EXPECT_EQ(bob.printProgress(1, 10), 0);  // no counter in a block printed afterwards
    ann.log() << "Info: created user <ann@a.com>\n";
    bob << "Error: cannot migrate message nr.: 1\n";
    run.writeDomainLine("b.com");  // the walk moved on while both ran
    EXPECT_EQ(log.str(), "\ndomain (a.com)\n\ndomain (b.com)\n");
    ann.finish("a.com");
    bob.finish("b.com");
    EXPECT_EQ(log.str(),
              "\ndomain (a.com)\n\ndomain (b.com)\n"
              "\ndomain (a.com)\n + mailbox <ann>\nInfo: created user <ann@a.com>\n"
              "\ndomain (b.com)\n + mailbox <bob>\nError: cannot migrate message nr.: 1\n");
    EXPECT_EQ(console.text(),
              "\ndomain (a.com)\n\ndomain (b.com)\n"
              "\ndomain (a.com)\n + mailbox <ann>\n"
              "\ndomain (b.com)\n + mailbox <bob>\nError: cannot migrate message nr.: 1\n");
}

TEST(HeldOutput, NextAccountOfTheSameDomainGetsNoSecondDomainLine) {
    std::ostringstream log;
    tarmig::RunOutput run{log};
    run.setQuiet(true);
    run.writeDomainLine("a.com");
    for (const char* name : {"ann", "bob"}) {
        tarmig::AccountOutput account{run, true};
        account << " + mailbox <" << name << ">\n";
        account.finish("a.com");
    }
    EXPECT_EQ(log.str(), "\ndomain (a.com)\n + mailbox <ann>\n + mailbox <bob>\n");
}

TEST(HeldLog, TextBeyondTheMemoryLimitKeepsItsOrder) {
    tarmig::HeldLog held(16);
    std::ostream stream(&held);
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        const std::string line = "line " + std::to_string(i) + "\n";
        stream << line;
        expected += line;
    }
    stream << 'x';
    expected += 'x';
    std::ostringstream target;
    held.moveTo(*target.rdbuf());
    EXPECT_EQ(target.str(), expected);
    std::ostringstream again;
    held.moveTo(*again.rdbuf());
    EXPECT_EQ(again.str(), "");  // moved, not copied
    stream << "after";
    held.moveTo(*again.rdbuf());
    EXPECT_EQ(again.str(), "after");
}

}  // namespace
