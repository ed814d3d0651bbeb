#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "store/Domain.h"
#include "store/Folder.h"
#include "store/Mailbox.h"
#include "store/Message.h"
#include "store/StoreProblem.h"
#include "support/StoreBuilder.h"

// The reader's log lines and problem lines name entries of the store, whose
// names may hold any byte but "/" and NUL: a line break in a name is shown
// escaped, so each line of the log is one line the reader wrote.
namespace {

using namespace tarmig;
using namespace tarmig::testing;

// Bytes of the text that are control bytes other than its line ends.
std::string strayControlBytes(const std::string& text) {
    std::string stray;
    for (char c : text)
        if (c != '\n' && (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)) stray += c;
    return stray;
}

class ReaderLines : public ::testing::Test {
protected:
    TempDir tmp;
    StoreBuilder store{tmp.path()};
    std::string dir = store.domainDir("d.org");
    std::ostringstream out;
};

}  // namespace

TEST_F(ReaderLines, AccountAndIgnoredEntryNamesAreEscaped) {
    store.addMacnt("d.org", "eve\nError: x", settingsText({{"RealName", "Eve\r\nInfo: y"}}), infoText("7", {}));
    writeFile(dir + "/notes\rWarning: z", "x");
    Domain domain(out);
    domain.initialize("d.org", dir);
    Mailbox mailbox(out);
    std::vector<std::string> names;
    for (bool more = domain.getFirstMailbox(mailbox, "*"); more; more = domain.getNextMailbox(mailbox, "*"))
        names.push_back(mailbox.username);

    EXPECT_EQ(names, std::vector<std::string>{"eve\nError: x"}) << "the name itself is kept";
    const std::string log = out.str();
    EXPECT_NE(log.find(" Info: read mailbox <eve\\nError: x> full name: \"Eve\\r\\nInfo: y\" password: \"\" size: 7 "
                       "path: \"" + dir + "/eve\\nError: x.macnt\"\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("Warning: file \"" + dir + "/notes\\rWarning: z\" in domain d.org is not an account, ignored\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(strayControlBytes(log), "");
}

TEST_F(ReaderLines, FolderNamesAndInfoValuesAreEscaped) {
    // \010 is the settings format's decimal escape of LF; an unknown escape
    // before a raw line end breaks the parse of the second account.
    const std::string ann = store.addMacnt("d.org", "ann", settingsText({}),
                                           "{\"In\\010Error: a\" = {Class = \"IPF\\010Error: b\"; Messages = "
                                           "\"1\\010Error: c\";};}\n");
    store.addMboxFolder(ann, "x\rError: d", "");
    const std::string bob = store.addMacnt("d.org", "bob", settingsText({}), "{INBOX = \"a\\\nError: e\";}\n");
    Mailbox mailbox(out);
    std::vector<Folder> folders;
    mailbox.initialize("ann", "d.org", dir, "ann", MailboxMacnt);
    mailbox.getFolderList(folders);
    mailbox.initialize("bob", "d.org", dir, "bob", MailboxMacnt);
    mailbox.getFolderList(folders);

    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0].getName(), "In\nError: a");
    const std::string log = out.str();
    EXPECT_NE(log.find("   Info: read folder \"ann/In\\nError: a\" size:  messages: 1\\nError: c type: "
                       "IPF\\nError: b\"\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("   Info: found folder \"ann/x\\rError: d\" on disk\n"), std::string::npos) << log;
    EXPECT_NE(log.find("Warning: cannot parse info file: unknown escpae sequence '\\\\n'"), std::string::npos) << log;
    EXPECT_EQ(strayControlBytes(log), "");
}

TEST_F(ReaderLines, MessageFileNamesAndFolderPathsAreEscaped) {
    const std::string ann = store.addMacnt("d.org", "ann", settingsText({}), "{}\n");
    const std::string mail = store.addMdirFolder(ann, "Mail");
    writeFile(mail + "/1-S-20040220123456-x\nError: f", "one\n");
    MboxMessage stored;
    stored.data = "two\n";
    // Text before the first separator is reported, naming the file.
    store.addMboxFolder(ann, "Box\rError: g", "junk\n" + mboxText({stored}));

    Folder folder(out);
    std::vector<StoreProblem> problems;
    int messages = 0;
    for (const char* name : {"Mail", "Box\rError: g"}) {
        folder.initialize(name, ann, MailboxMacnt);
        folder.openMessagesFile("ann");
        Message message(folder);
        for (bool more = folder.getFirstMessage(message, true); more; more = folder.getNextMessage(message, true))
            ++messages;
        for (StoreProblem& problem : folder.takeProblems()) problems.push_back(problem);
        folder.closeMessagesFile();
    }

    EXPECT_EQ(messages, 2);
    const std::string log = out.str();
    EXPECT_NE(log.find("    Info: read message, filename: 1-S-20040220123456-x\\nError: f\n"), std::string::npos)
        << log;
    EXPECT_EQ(strayControlBytes(log), "");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].line,
              "Warning: 5 bytes of \"" + ann +
                  "/Box\\rError: g.mbox\" before its first message separator were not migrated\n");
}
