#include "store/Folder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "store/Message.h"

using namespace tarmig;

namespace {

// Both separator-line timestamp forms read by sscanf alone: the reference the
// faster reading must agree with, for every text.
std::string scanfTimeStamp(const std::string& stamp) {
    if (stamp.size() > 80) return "";
    char weekday[100];
    char month[100];
    int day = 0, monthNumber = 0, year = 0, hour = 0, minute = 0, second = 0;
    std::string monthName;
    if (std::sscanf(stamp.c_str(), "%99s %99s %d %d:%d:%d %d", weekday, month, &day, &hour, &minute, &second,
                    &year) == 7) {
        monthName = month;
    } else if (std::sscanf(stamp.c_str(), "%d-%d-%d_%d:%d:%d_", &day, &monthNumber, &year, &hour, &minute,
                           &second) == 6) {
        monthName = convertMonth(static_cast<unsigned>(monthNumber));
    } else {
        return "";
    }
    if (!Folder::checkTime(day, monthName, hour, minute, second)) return "";
    char text[96];
    std::snprintf(text, sizeof text, "%02d-%s-%d %02d:%02d:%02d +0000", day, monthName.c_str(), year, hour, minute,
                  second);
    return text;
}

}  // namespace

TEST(FolderNames, SlashesBecomeFolderDirectories) {
    EXPECT_EQ("INBOX", convertFolderName("INBOX"));
    EXPECT_EQ("Archive.folder/2004.folder/May", convertFolderName("Archive/2004/May"));
    EXPECT_EQ("a.folder/.folder/b", convertFolderName("a//b"));
    EXPECT_EQ(".folder/x.folder/", convertFolderName("/x/"));
    EXPECT_EQ("Sent Items.folder/\xC3\xA9t\xE9", convertFolderName("Sent Items/\xC3\xA9t\xE9"));
}

TEST(FolderFlags, LettersBecomeImapFlagsInFixedOrder) {
    EXPECT_EQ("", convertFlags(""));
    EXPECT_EQ("", convertFlags("xyz"));
    EXPECT_EQ("\\Seen \\Answered ", convertFlags("ASx"));
    EXPECT_EQ("\\Seen ", convertFlags("SSS"));
    EXPECT_EQ("\\Seen \\Deleted \\Answered \\Flagged \\Recent \\Draft ", convertFlags("DRFAPS"));
    EXPECT_EQ("", convertFlags("s"));  // letters are case-sensitive
}

TEST(FolderMonths, NumbersOneToTwelveOnly) {
    EXPECT_EQ("Jan", convertMonth(1));
    EXPECT_EQ("Dec", convertMonth(12));
    EXPECT_EQ("", convertMonth(0));
    EXPECT_EQ("", convertMonth(13));
    EXPECT_EQ("", convertMonth(static_cast<unsigned>(-1)));
}

TEST(FolderMdirNames, FlagsAndTimestampBetweenDashes) {
    std::string flags = "old", stamp = "old";
    separateFlagsAndTimestamp("1-SA-20040220123456-x", flags, stamp);
    EXPECT_EQ("SA", flags);
    EXPECT_EQ("20040220123456", stamp);
    separateFlagsAndTimestamp("7--20040220123456-x-y", flags, stamp);
    EXPECT_EQ("", flags);
    EXPECT_EQ("20040220123456", stamp);
    for (const char* name : {"plainname", "1-SA", "1-SA-20040220123456"}) {
        flags = "old";
        stamp = "old";
        separateFlagsAndTimestamp(name, flags, stamp);
        EXPECT_EQ("", flags) << name;
        EXPECT_EQ("", stamp) << name;
    }
}

class FolderParsing : public ::testing::Test {
protected:
    std::ostringstream output;
    Folder folder{output};
    Message message{folder};
};

TEST_F(FolderParsing, MboxTimestampInBothForms) {
    EXPECT_EQ("20-Feb-2004 12:34:56 +0000", folder.parseTimeStamp("Fri Feb 20 12:34:56 2004"));
    EXPECT_EQ("20-Feb-2004 12:34:56 +0000", folder.parseTimeStamp("20-02-2004_12:34:56_"));
    EXPECT_EQ("05-Mar-2004 00:00:00 +0000", folder.parseTimeStamp("5-3-2004_0:0:0_"));
    EXPECT_EQ("31-Dec-99999 23:59:59 +0000", folder.parseTimeStamp("Xyz Dec 31 23:59:59 99999"));
    // The CR of a CR LF line end stays on the line as read.
    EXPECT_EQ("20-Feb-2004 12:34:56 +0000", folder.parseTimeStamp("20-02-2004_12:34:56_\r"));
    EXPECT_EQ("", output.str());
}

TEST_F(FolderParsing, UnusableMboxTimestampsWarnAndGiveNoDate) {
    for (const char* stamp : {"Fri Foo 20 12:34:56 2004", "Fri feb 20 12:34:56 2004", "20-13-2004_12:34:56_",
                              "0-02-2004_12:34:56_", "32-02-2004_12:34:56_", "20-02-2004_24:00:00_",
                              "20-02-2004_12:60:00_", "20-02-2004_12:00:60_", "20-02-2004_12:34", "", "garbage"}) {
        output.str("");
        EXPECT_EQ("", folder.parseTimeStamp(stamp)) << stamp;
        EXPECT_EQ("Warning: cannot parse timestamp.\n", output.str()) << stamp;
    }
    output.str("");
    std::string tooLong = "Fri Feb 20 12:34:56 2004" + std::string(57, ' ');
    EXPECT_EQ("", folder.parseTimeStamp(tooLong));
    EXPECT_EQ("Warning: cannot parse timestamp.\n", output.str());
    EXPECT_EQ("20-Feb-2004 12:34:56 +0000", folder.parseTimeStamp(tooLong.substr(0, 80)));
}

TEST_F(FolderParsing, MboxTimestampReadsAsScanfDoes) {
    std::string numeric = "20-02-2004_12:34:56_";
    std::vector<std::string> stamps = {
        numeric, "5-3-2004_0:0:0_", "20-02-2004_12:34:56", "20-02-2004_12:34:56_junk", "20-02-2004_12:34:5x",
        "20-02-2004_12:34:", "20-02-2004_12:34", "20-02-2004 12:34:56_", "20-02-2004_12-34:56_", " " + numeric,
        "\t" + numeric, numeric + "\r", numeric + " x", "+20-02-2004_12:34:56_", "20-+02-2004_12:34:56_",
        "-20-02-2004_12:34:56_", "20-02--2004_12:34:56_", "20-02-+2004_12:34:56_", "000000020-02-2004_12:34:56_",
        "0000000020-02-2004_12:34:56_", "20-02-999999999_12:34:56_", "20-02-9999999999_12:34:56_",
        "20-02-99999999999999999999_12:34:56_", "4294967316-02-2004_12:34:56_", "20-00-2004_12:34:56_",
        "20-12-2004_23:59:59_", "20-13-2004_12:34:56_", "31-01-2004_00:00:00_", "32-01-2004_00:00:00_",
        std::string("20-02-2004_12:34:56_\0 x", 23), std::string("20-02\0-2004_12:34:56_", 21),
        std::string("\0 20-02-2004_12:34:56_", 22), numeric + std::string(60, 'x'), numeric + std::string(61, 'x'),
        "Fri Feb 20 12:34:56 2004", "Fri\tFeb\n20 12:34:56 2004", " Fri Feb 20 12:34:56 -2004",
        "Fri Feb 20 12:34:56", "FriFeb 20 12:34:56 2004", "Fri Feb 20 12:34:56 2004" + std::string(56, ' '),
        "Fri Feb 20 12:34:56 2004" + std::string(57, ' '), "", " ", "garbage", "-", "1-2-3_4:5:6_",
    };
    for (const std::string& stamp : stamps) {
        output.str("");
        std::string expected = scanfTimeStamp(stamp);
        EXPECT_EQ(expected, folder.parseTimeStamp(stamp)) << ::testing::PrintToString(stamp);
        EXPECT_EQ(expected.empty() ? "Warning: cannot parse timestamp.\n" : "", output.str())
            << ::testing::PrintToString(stamp);
    }
}

TEST_F(FolderParsing, MdirTimestamp) {
    EXPECT_EQ("20-Feb-2004 12:34:56 +0000", folder.parseTimeStampMDIR("20040220123456"));
    EXPECT_EQ("", output.str());
    for (const char* stamp : {"20041320123456", "20040200123456", "20040220243456", "200402201234", "", "abc"}) {
        output.str("");
        EXPECT_EQ("", folder.parseTimeStampMDIR(stamp)) << stamp;
        EXPECT_EQ("Warning: cannot parse timestamp.\n", output.str()) << stamp;
    }
}

TEST_F(FolderParsing, SeparatorLineGivesFlagsDateAndUid) {
    ASSERT_TRUE(folder.readMessageHeader("From <a@b>(SF-1042) Fri Feb 20 12:34:56 2004", message));
    EXPECT_EQ("\\Seen \\Flagged ", message.getFlags());
    EXPECT_EQ("20-Feb-2004 12:34:56 +0000", message.getDate());
    EXPECT_EQ("1042", message.getUid());
    EXPECT_EQ("", output.str());

    // The sender runs to the first ">("; a timestamp that cannot be used leaves the date empty.
    ASSERT_TRUE(folder.readMessageHeader("From <x>y>(-78) 2004", message));
    EXPECT_EQ("", message.getFlags());
    EXPECT_EQ("78", message.getUid());
    EXPECT_EQ("", message.getDate());
    EXPECT_EQ("Warning: cannot parse timestamp.\n", output.str());
}

TEST_F(FolderParsing, WrongSeparatorFormNamesThePreviousUid) {
    message.setUid("41");
    EXPECT_FALSE(folder.readMessageHeader("From <a>(S 9) x", message));
    EXPECT_FALSE(folder.readMessageHeader("From <a>(S-9 x", message));
    EXPECT_FALSE(folder.readMessageHeader("From <a(S-9) x", message));
    EXPECT_FALSE(folder.readMessageHeader("From <a>(S-9)", message));
    EXPECT_EQ("Error: wrong message header format(uid = 41): From <a>(S 9) x\n"
              "Error: wrong message header format(uid = 41): From <a>(S-9 x\n"
              "Error: wrong message header format(uid = 41): From <a(S-9) x\n"
              "Error: wrong message header format(uid = 41): From <a>(S-9)\n",
              output.str());
    EXPECT_EQ("41", message.getUid());
}

TEST(FolderType, ClassesMapToTargetTypes) {
    std::ostringstream output;
    Folder folder(output);
    EXPECT_EQ(ImapFolderType::FolderMail, folder.getType());  // "IPF.Note" at construction
    const std::pair<const char*, ImapFolderType> table[] = {
        {"TextMailbox", ImapFolderType::FolderMail},        {"IPF.Note", ImapFolderType::FolderMail},
        {"IPF.StickyNote", ImapFolderType::FolderNone},     {"IPF.stickyNote", ImapFolderType::FolderNone},
        {"IPF.Appointment", ImapFolderType::FolderCalendar}, {"IPF.Task", ImapFolderType::FolderTask},
        {"IPF.Journal", ImapFolderType::FolderJournal},     {"IPF.Contact", ImapFolderType::FolderContact},
        {"IPF.Default", ImapFolderType::FolderNone},        {"ipf.note", ImapFolderType::FolderNone},
        {"", ImapFolderType::FolderNone},
    };
    for (const auto& [folderClass, type] : table) {
        folder.setClass(folderClass);
        EXPECT_EQ(type, folder.getType()) << folderClass;
    }
}

TEST(FolderFields, ConstructionValuesAndSetters) {
    std::ostringstream output;
    Folder folder(output);
    EXPECT_EQ("0", folder.getMessageCount());
    EXPECT_EQ("0", folder.getSize());
    EXPECT_EQ("IPF.Note", folder.getClass());
    EXPECT_EQ(MailboxNone, folder.getStorageType());
    folder.initialize("Sent", "/d/a.macnt", MailboxMacnt);
    folder.setMessageCount("3");
    folder.setSize("");
    EXPECT_EQ("Sent", folder.getName());
    EXPECT_EQ("/d/a.macnt", folder.getAccountDirectory());
    EXPECT_EQ(MailboxMacnt, folder.getStorageType());
    EXPECT_EQ("3", folder.getMessageCount());
    EXPECT_EQ("", folder.getSize());
}

TEST(FolderFields, UnsetStorageYieldsNothing) {
    std::ostringstream output;
    Folder folder(output);
    folder.openMessagesFile("ann");
    Message message(folder);
    EXPECT_FALSE(folder.getFirstMessage(message, true));
    EXPECT_FALSE(folder.getNextMessage(message, true));
    EXPECT_EQ(nullptr, folder.getFileStream());
    folder.closeMessagesFile();
    EXPECT_EQ("", output.str());
}
