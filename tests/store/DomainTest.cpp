#include "store/Domain.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <set>
#include <sstream>
#include <string>

#include "ErrorText.h"
#include "store/CGException.h"
#include "store/Mailbox.h"
#include "support/StoreBuilder.h"

using namespace tarmig;
using namespace tarmig::testing;

namespace {

const std::string goodSettings = settingsText({{"RealName", "R"}, {"Password", "pw"}});
const std::string goodInfo = infoText("100", {});

// The domain d.org of a store in a temporary directory, with its directory dir.
class DomainStore : public ::testing::Test {
protected:
    TempDir tmp;
    StoreBuilder store{tmp.path()};
    std::string dir = store.domainDir("d.org");
    std::ostringstream out;
    Domain domain{out};

    void SetUp() override { domain.initialize("d.org", dir); }

    // Account name -> type for every account the domain yields for mask.
    std::map<std::string, MailboxType> accounts(const std::string& mask) {
        Mailbox mailbox(out);
        std::map<std::string, MailboxType> found;
        for (bool more = domain.getFirstMailbox(mailbox, mask); more; more = domain.getNextMailbox(mailbox, mask)) {
            found[mailbox.username] = mailbox.type;
        }
        return found;
    }
};

}  // namespace

TEST(Domain, AccountNamesFromEntryNames) {
    struct Case {
        std::string entry;
        bool directory;
        std::string name;
        MailboxType type;
    };
    const Case cases[] = {
        {"d.macnt", true, "d", MailboxMacnt},
        {"First.Last.macnt", true, "First.Last", MailboxMacnt},
        {"ab.mdir", true, "ab", MailboxMdir},
        {"a.mdir", true, "a", MailboxMdir},
        {".mdir", true, "", MailboxNone},
        {".macnt", true, "", MailboxNone},
        {"x.mbox", true, "", MailboxNone},
        {"x.MACNT", true, "", MailboxNone},
        {"b.mbox", false, "b", MailboxMbox},
        {".mbox", false, "", MailboxNone},
        {"x.macnt", false, "", MailboxNone},
        {"x.txt", false, "", MailboxNone},
        {"sp ace \xC3\xA9.mbox", false, "sp ace \xC3\xA9", MailboxMbox},
    };
    for (const auto& c : cases) {
        MailboxType type = MailboxMbox;
        std::string name = c.directory ? Domain::getUsernameFromFolder(c.entry, type)
                                       : Domain::getUsernameFromFile(c.entry, type);
        EXPECT_EQ(c.name, name) << c.entry;
        EXPECT_EQ(c.type, type) << c.entry;
    }
}

TEST_F(DomainStore, OnlyAccountEntriesOfTheRightKindAreTaken) {
    store.addMacnt("d.org", "x", goodSettings, goodInfo);
    store.addMboxAccount("d.org", "y", goodSettings, goodInfo, "");
    store.addMdirAccount("d.org", "z", goodSettings, goodInfo);
    store.addMacnt("d.org", "First.Last", goodSettings, goodInfo);
    store.addMacnt("d.org", "with space \xC3\xA9", goodSettings, goodInfo);
    writeFile(dir + "/w.txt", "");
    writeFile(dir + "/v.macnt", "");
    makeDirs(dir + "/u.mbox");
    makeDirs(dir + "/.macnt");
    writeFile(dir + "/.mbox", "");

    EXPECT_EQ((std::map<std::string, MailboxType>{{"x", MailboxMacnt},
                                                  {"y", MailboxMbox},
                                                  {"z", MailboxMdir},
                                                  {"First.Last", MailboxMacnt},
                                                  {"with space \xC3\xA9", MailboxMacnt}}),
              accounts("*"));
}

TEST_F(DomainStore, AccountLineAndMasks) {
    store.addMacnt("d.org", "ANN", settingsText({{"RealName", "Ann \"A\""}, {"Password", "s3cret"}}), goodInfo);
    store.addMboxAccount("d.org", "anna", goodSettings, "", "");
    store.addMdirAccount("d.org", "joe", goodSettings, goodInfo);

    EXPECT_EQ((std::map<std::string, MailboxType>{{"ANN", MailboxMacnt}, {"anna", MailboxMbox}}), accounts("ann*"));
    EXPECT_EQ((std::map<std::string, MailboxType>{{"joe", MailboxMdir}}), accounts("J?E"));

    out.str("");
    Mailbox mailbox(out);
    ASSERT_TRUE(domain.getFirstMailbox(mailbox, "ANN"));
    EXPECT_EQ(" Info: read mailbox <ANN> full name: \"Ann \"A\"\" password: \"******\" size: 100 path: \"" + dir +
                  "/ANN.macnt\"\n",
              out.str());
    EXPECT_EQ("d.org", mailbox.domain);
    EXPECT_FALSE(domain.getNextMailbox(mailbox, "ANN"));
    EXPECT_FALSE(domain.getNextMailbox(mailbox, "ANN"));
}

TEST_F(DomainStore, BrokenAccountIsRaisedAndTheListingGoesOn) {
    store.addMacnt("d.org", "a1", goodSettings, goodInfo);
    store.addMacnt("d.org", "bad", "{\x01\xFF\xFE", goodInfo);
    store.addMacnt("d.org", "a2", goodSettings, goodInfo);
    store.addMacnt("d.org", "a3", goodSettings, goodInfo);

    Mailbox mailbox(out);
    std::set<std::string> good;
    int failures = 0;
    // Like the engine: a failed call is reported and the walk asks for the next account.
    for (int call = 0; call < 10; ++call) {
        bool more;
        try {
            more = call == 0 ? domain.getFirstMailbox(mailbox, "*") : domain.getNextMailbox(mailbox, "*");
        } catch (const CGStoreException& e) {
            ++failures;
            EXPECT_EQ("bad", mailbox.username);
            EXPECT_EQ("cannot parse settings file: unexpected EOF in " + dir +
                          "/bad.macnt/account.settings at line 1, byte 5",
                      e.what());
            continue;
        }
        if (!more) break;
        good.insert(mailbox.username);
    }
    EXPECT_EQ(1, failures);
    EXPECT_EQ((std::set<std::string>{"a1", "a2", "a3"}), good);
    EXPECT_NE(std::string::npos, out.str().find("Error: cannot parse settings file: unexpected EOF in "));
    EXPECT_EQ(std::string::npos, out.str().find("<bad>"));
}

TEST(Domain, MissingDirectoryIsReported) {
    std::ostringstream out;
    Domain domain(out);
    domain.initialize("gone.org", "/nonexistent/tarmig/gone.org");
    Mailbox mailbox(out);
    EXPECT_EQ("cannot open directory /nonexistent/tarmig/gone.org",
              errorText<CGStoreException>([&] { domain.getFirstMailbox(mailbox, "*"); }));
    EXPECT_EQ("Error: cannot open directory /nonexistent/tarmig/gone.org\n", out.str());
    EXPECT_FALSE(domain.getNextMailbox(mailbox, "*"));
}
