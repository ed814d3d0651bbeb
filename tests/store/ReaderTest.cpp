#include "store/Reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>

#include "migrator/CGException.h"
#include "store/Domain.h"
#include "support/StoreBuilder.h"

using namespace tarmig;
using namespace tarmig::testing;

namespace {

// Names of all domains the reader yields for mask, in order.
std::vector<std::string> walk(Reader& reader, const std::string& mask, std::ostream& out) {
    Domain domain(out);
    std::vector<std::string> names;
    for (bool more = reader.getFirstDomain(domain, mask); more; more = reader.getNextDomain(domain, mask)) {
        names.push_back(domain.name);
    }
    return names;
}

}  // namespace

TEST(Reader, PrimaryDomainFirstThenTheDomainsDirectory) {
    TempDir tmp;
    StoreBuilder store(tmp.path());
    makeDirs(store.domainDir(""));
    makeDirs(store.domainDir("other.org"));
    std::ostringstream out;
    Reader reader(out);
    reader.initialize(tmp.path(), "example.com");
    Domain domain(out);

    ASSERT_TRUE(reader.getFirstDomain(domain, "*"));
    EXPECT_EQ("example.com", domain.name);
    EXPECT_EQ(tmp.path() + "/Accounts", domain.path);
    ASSERT_TRUE(reader.getNextDomain(domain, "*"));
    EXPECT_EQ("other.org", domain.name);
    EXPECT_EQ(tmp.path() + "/Domains/other.org", domain.path);
    EXPECT_FALSE(reader.getNextDomain(domain, "*"));
    EXPECT_FALSE(reader.getNextDomain(domain, "*"));
    EXPECT_EQ("Info: read default domain (example.com) path: \"" + tmp.path() + "/Accounts\"\n"
              "Info: read domain (other.org) path: \"" + tmp.path() + "/Domains/other.org\"\n",
              out.str());
}

TEST(Reader, WithoutDomainsDirectoryOnlyThePrimaryDomain) {
    TempDir tmp;
    makeDirs(tmp.path() + "/Accounts");
    std::ostringstream out;
    Reader reader(out);
    reader.initialize(tmp.path(), "example.com");
    EXPECT_EQ(std::vector<std::string>{"example.com"}, walk(reader, "*", out));
}

TEST(Reader, MasksAreCaseInsensitiveAndOnlyDirectoriesAreDomains) {
    TempDir tmp;
    makeDirs(tmp.path() + "/Domains/Alpha.org");
    makeDirs(tmp.path() + "/Domains/beta.org");
    makeDirs(tmp.path() + "/Domains/example.com");  // the primary name again: a further domain
    writeFile(tmp.path() + "/Domains/afile.org", "");
    ASSERT_EQ(0, symlink("Alpha.org", (tmp.path() + "/Domains/alink.org").c_str()));
    std::ostringstream out;
    Reader reader(out);
    // No Accounts directory: not an error while the primary domain is not selected.
    reader.initialize(tmp.path(), "example.com");
    EXPECT_EQ(std::vector<std::string>{"Alpha.org"}, walk(reader, "a*", out));
    EXPECT_EQ(std::vector<std::string>{"beta.org"}, walk(reader, "[!ae]*", out));
    std::vector<std::string> all = walk(reader, "*.ORG", out);
    EXPECT_EQ((std::set<std::string>{"Alpha.org", "beta.org"}), std::set<std::string>(all.begin(), all.end()));
    EXPECT_TRUE(walk(reader, "nothing", out).empty());
    EXPECT_EQ(std::string::npos, out.str().find("Error"));
}

TEST(Reader, PrimaryDomainSelectedButAccountsMissingStillWalksTheOtherDomains) {
    TempDir tmp;
    makeDirs(tmp.path() + "/Domains/other.org");
    std::ostringstream out;
    Reader reader(out);
    reader.initialize(tmp.path(), "example.com");
    Domain domain(out);
    try {
        reader.getFirstDomain(domain, "*");
        FAIL() << "no exception";
    } catch (const CGStoreException& e) {
        EXPECT_STREQ("default domain not found, wrong path", e.what());
    }
    EXPECT_EQ("Error: default domain not found, wrong path\n", out.str());
    ASSERT_TRUE(reader.getNextDomain(domain, "*"));
    EXPECT_EQ("other.org", domain.name);
    EXPECT_FALSE(reader.getNextDomain(domain, "*"));
}

TEST(Reader, GetFirstDomainRestartsTheWalk) {
    TempDir tmp;
    makeDirs(tmp.path() + "/Accounts");
    makeDirs(tmp.path() + "/Domains/d1");
    std::ostringstream out;
    Reader reader(out);
    reader.initialize(tmp.path(), "p");
    EXPECT_EQ((std::vector<std::string>{"p", "d1"}), walk(reader, "*", out));
    EXPECT_EQ((std::vector<std::string>{"p", "d1"}), walk(reader, "*", out));
}

TEST(Reader, MissingStoreYieldsNothingUnlessThePrimaryDomainIsSelected) {
    std::ostringstream out;
    Reader reader(out);
    reader.initialize("/nonexistent/tarmig-store", "example.com");
    Domain domain(out);
    EXPECT_FALSE(reader.getFirstDomain(domain, "other*"));
    EXPECT_THROW(reader.getFirstDomain(domain, "*"), CGStoreException);
    EXPECT_FALSE(reader.getNextDomain(domain, "*"));
}

TEST(Reader, DomainNamesWithBlanksAndNonAsciiBytes) {
    TempDir tmp;
    makeDirs(tmp.path() + "/Domains/my domain \xC3\xA9.org");
    std::ostringstream out;
    Reader reader(out);
    reader.initialize(tmp.path(), "example.com");
    EXPECT_EQ(std::vector<std::string>{"my domain \xC3\xA9.org"}, walk(reader, "MY*\xC3\xA9.ORG", out));
    EXPECT_EQ("Info: read domain (my domain \xC3\xA9.org) path: \"" + tmp.path() + "/Domains/my domain \xC3\xA9.org\"\n",
              out.str());
}
