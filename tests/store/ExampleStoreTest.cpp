#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "store/Domain.h"
#include "store/Mailbox.h"
#include "store/Message.h"
#include "store/Reader.h"
#include "support/StoreBuilder.h"

using namespace tarmig;
namespace fs = std::filesystem;

namespace {

struct ExpectedFolder {
    std::string name, folderClass, messages, size;
};

struct ExpectedAccount {
    std::string domain;
    MailboxType type;
    std::string fullName, password, size;
    std::vector<ExpectedFolder> folders;  // in folder-list order
};

// What examples/README.md describes.
const std::map<std::string, ExpectedAccount> expected = {
    {"ann",
     {"example.com",
      MailboxMacnt,
      "Ann Lee",
      "ann-pass-2004",
      "4298",
      {{"Calendar", "IPF.Appointment", "1", "385"},
       {"Contacts", "IPF.Contact", "1", "283"},
       {"Drafts", "IPF.Note", "1", "306"},
       {"INBOX", "IPF.Note", "3", "985"},
       {"Ideas:Later", "IPF.StickyNote", "1", "294"},
       {"Projects", "IPF.Note", "1", "316"},
       {"Projects/2004", "IPF.Note", "1", "368"},
       {"Projects/2005", "IPF.Note", "1", "254"},
       {"Sent", "IPF.Note", "2", "512"},
       {"Tasks", "IPF.Task", "1", "314"},
       {"Trash", "IPF.Note", "1", "281"}}}},
    {"bob", {"example.com", MailboxMbox, "Bob Stone", "", "625", {{"INBOX", "IPF.Default", "2", "625"}}}},
    {"carol", {"example.org", MailboxMdir, "Carol Diaz", "carol-pw", "502", {{"INBOX", "IPF.Note", "2", "502"}}}},
    {"dave",
     {"example.org",
      MailboxMacnt,
      "Dave Ng",
      "",
      "637",
      {{"INBOX", "IPF.Note", "1", "322"}, {"Sent Items", "IPF.Note", "1", "315"}}}},
};

std::string storePathOf(const std::string& folder) {
    std::string out;
    for (char c : folder) out += c == '/' ? std::string(".folder/") : std::string(1, c);
    return out;
}

// Message count and byte size of a folder as found on disk, worked out here
// independently of the store reader.
std::pair<int, std::uintmax_t> onDisk(const Mailbox& mailbox, const std::string& folder) {
    fs::path storage;
    if (mailbox.type == MailboxMbox) storage = mailbox.path + "/" + mailbox.username + ".mbox";
    else if (mailbox.type == MailboxMdir) storage = mailbox.path;
    else if (fs::is_directory(mailbox.path + "/" + storePathOf(folder) + ".mdir"))
        storage = mailbox.path + "/" + storePathOf(folder) + ".mdir";
    else storage = mailbox.path + "/" + storePathOf(folder) + ".mbox";

    int count = 0;
    std::uintmax_t size = 0;
    if (fs::is_directory(storage)) {
        for (const auto& entry : fs::directory_iterator(storage)) {
            if (!entry.is_regular_file()) continue;
            ++count;
            size += entry.file_size();
        }
    } else {
        std::istringstream text(tarmig::testing::readFile(storage.string()));
        for (std::string line; std::getline(text, line);) count += line.rfind("From <", 0) == 0;
        size = fs::file_size(storage);
    }
    return {count, size};
}

}  // namespace

TEST(ExampleStore, MatchesItsDescription) {
    std::ostringstream out;
    Reader reader(out);
    reader.initialize(std::string(TARMIG_SOURCE_DIR) + "/examples/store", "example.com");
    Domain domain(out);
    Mailbox mailbox(out);
    std::vector<std::string> domains;
    std::map<std::string, int> seen;

    for (bool d = reader.getFirstDomain(domain, "*"); d; d = reader.getNextDomain(domain, "*")) {
        domains.push_back(domain.name);
        for (bool m = domain.getFirstMailbox(mailbox, "*"); m; m = domain.getNextMailbox(mailbox, "*")) {
            SCOPED_TRACE(mailbox.username);
            ++seen[mailbox.username];
            auto it = expected.find(mailbox.username);
            ASSERT_NE(expected.end(), it);
            const ExpectedAccount& account = it->second;
            EXPECT_EQ(account.domain, mailbox.domain);
            EXPECT_EQ(account.type, mailbox.type);
            EXPECT_EQ(account.fullName, mailbox.fullName);
            EXPECT_EQ(account.password, mailbox.password);
            EXPECT_EQ(account.size, mailbox.size);

            std::vector<Folder> folders;
            mailbox.getFolderList(folders);
            ASSERT_EQ(account.folders.size(), folders.size());
            std::uintmax_t total = 0;
            for (std::size_t i = 0; i < folders.size(); ++i) {
                const ExpectedFolder& want = account.folders[i];
                SCOPED_TRACE(want.name);
                EXPECT_EQ(want.name, folders[i].getName());
                EXPECT_EQ(want.folderClass, folders[i].getClass());
                EXPECT_EQ(want.messages, folders[i].getMessageCount());
                EXPECT_EQ(want.size, folders[i].getSize());
                auto [count, size] = onDisk(mailbox, want.name);
                EXPECT_EQ(want.messages, std::to_string(count));
                EXPECT_EQ(want.size, std::to_string(size));
                total += size;
            }
            EXPECT_EQ(account.size, std::to_string(total));
        }
    }
    EXPECT_EQ((std::vector<std::string>{"example.com", "example.org"}), domains);
    EXPECT_EQ((std::map<std::string, int>{{"ann", 1}, {"bob", 1}, {"carol", 1}, {"dave", 1}}), seen);
    EXPECT_EQ(std::string::npos, out.str().find("Error"));
    EXPECT_EQ(std::string::npos, out.str().find("Warning"));
}

// Every message of the example is readable, with a date in either timestamp
// form, and the message stored with bare LF grows by one byte per line.
TEST(ExampleStore, EveryMessageReadsWithItsFlagsAndDate) {
    std::ostringstream out;
    Reader reader(out);
    reader.initialize(std::string(TARMIG_SOURCE_DIR) + "/examples/store", "example.com");
    Domain domain(out);
    Mailbox mailbox(out);
    std::set<std::string> flags;
    int messages = 0, bareLf = 0;
    for (bool d = reader.getFirstDomain(domain, "*"); d; d = reader.getNextDomain(domain, "*")) {
        for (bool m = domain.getFirstMailbox(mailbox, "*"); m; m = domain.getNextMailbox(mailbox, "*")) {
            std::vector<Folder> folders;
            mailbox.getFolderList(folders);
            for (Folder& folder : folders) {
                SCOPED_TRACE(mailbox.username + "/" + folder.getName());
                Message message(folder);
                folder.openMessagesFile(mailbox.username);
                int count = 0;
                for (bool more = folder.getFirstMessage(message, true); more;
                     more = folder.getNextMessage(message, true)) {
                    ++count;
                    EXPECT_FALSE(message.getDate().empty());
                    flags.insert(message.getFlags());
                    std::string data, part;
                    for (bool p = message.getFirstDataPart(part); p; p = message.getNextDataPart(part)) data += part;
                    EXPECT_EQ(message.getFixedSize(), static_cast<std::int64_t>(data.size()));
                    EXPECT_EQ(0u, data.rfind("From: ", 0));
                    if (message.getFixedSize() != message.getSize()) ++bareLf;
                }
                folder.closeMessagesFile();
                EXPECT_EQ(folder.getMessageCount(), std::to_string(count));
                messages += count;
            }
        }
    }
    EXPECT_EQ(20, messages);
    EXPECT_EQ(1, bareLf);
    EXPECT_EQ((std::set<std::string>{"", "\\Seen ", "\\Seen \\Answered ", "\\Answered ", "\\Recent ",
                                     "\\Draft ", "\\Seen \\Deleted ", "\\Flagged ", "\\Seen \\Flagged "}),
              flags);
    EXPECT_EQ(std::string::npos, out.str().find("Error"));
    EXPECT_EQ(std::string::npos, out.str().find("Warning"));
}
