#include "store/Reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <sstream>
#include <string>

#include "ErrorText.h"
#include "store/CGException.h"
#include "store/Domain.h"
#include "support/StoreBuilder.h"

using namespace tarmig;
using namespace tarmig::testing;

namespace {

// A reader on an empty store in a temporary directory, primary domain example.com.
class ReaderWalk : public ::testing::Test {
protected:
    TempDir tmp;
    std::ostringstream out;
    Reader reader{out};
    Domain domain{out};

    void SetUp() override { reader.initialize(tmp.path(), "example.com"); }

    // Names of all domains the reader yields for mask, in order.
    std::vector<std::string> walk(const std::string& mask) {
        std::vector<std::string> names;
        for (bool more = reader.getFirstDomain(domain, mask); more; more = reader.getNextDomain(domain, mask)) {
            names.push_back(domain.name);
        }
        return names;
    }
};

}  // namespace

TEST_F(ReaderWalk, PrimaryDomainFirstThenTheDomainsDirectory) {
    StoreBuilder store(tmp.path());
    makeDirs(store.domainDir(""));
    makeDirs(store.domainDir("other.org"));

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

TEST_F(ReaderWalk, WithoutDomainsDirectoryOnlyThePrimaryDomain) {
    makeDirs(tmp.path() + "/Accounts");
    EXPECT_EQ(std::vector<std::string>{"example.com"}, walk("*"));
}

TEST_F(ReaderWalk, MasksAreCaseInsensitiveAndOnlyDirectoriesAreDomains) {
    makeDirs(tmp.path() + "/Domains/Alpha.org");
    makeDirs(tmp.path() + "/Domains/beta.org");
    makeDirs(tmp.path() + "/Domains/example.com");  // the primary name again: a further domain
    writeFile(tmp.path() + "/Domains/afile.org", "");
    ASSERT_EQ(0, symlink("Alpha.org", (tmp.path() + "/Domains/alink.org").c_str()));
    // No Accounts directory: not an error while the primary domain is not selected.
    EXPECT_EQ(std::vector<std::string>{"Alpha.org"}, walk("a*"));
    EXPECT_EQ(std::vector<std::string>{"beta.org"}, walk("[!ae]*"));
    std::vector<std::string> all = walk("*.ORG");
    EXPECT_EQ((std::set<std::string>{"Alpha.org", "beta.org"}), std::set<std::string>(all.begin(), all.end()));
    EXPECT_TRUE(walk("nothing").empty());
    EXPECT_EQ(std::string::npos, out.str().find("Error"));
}

TEST_F(ReaderWalk, DomainEntriesThatAreNoDirectoriesAreNamedNotPassedOverSilently) {
    makeDirs(tmp.path() + "/Domains/real.org");
    writeFile(tmp.path() + "/Domains/afile.org", "");
    ASSERT_EQ(0, symlink("/elsewhere/big.org", (tmp.path() + "/Domains/big.org").c_str()));
    EXPECT_EQ(std::vector<std::string>{"real.org"}, walk("*.org"));
    const std::string domains = tmp.path() + "/Domains/";
    EXPECT_NE(std::string::npos,
              out.str().find("Warning: symbolic link \"" + domains + "big.org\" is not a domain directory, ignored\n"))
        << out.str();
    EXPECT_NE(std::string::npos,
              out.str().find("Warning: entry \"" + domains + "afile.org\" is not a domain directory, ignored\n"));
    // Entries the mask does not select are none of the run's business.
    out.str("");
    EXPECT_EQ(std::vector<std::string>{"real.org"}, walk("real*"));
    EXPECT_EQ(std::string::npos, out.str().find("Warning"));
}

// Its accounts would land in the primary domain on the target, each taken for
// an existing account of the same name and left behind.
TEST_F(ReaderWalk, DomainOfThePrimaryDomainsNameFailsOnceThePrimaryWasRead) {
    makeDirs(tmp.path() + "/Accounts");
    makeDirs(tmp.path() + "/Domains/Example.COM");
    makeDirs(tmp.path() + "/Domains/other.org");
    ASSERT_TRUE(reader.getFirstDomain(domain, "*"));
    EXPECT_EQ("example.com", domain.name);
    std::vector<std::string> names;
    int failures = 0;
    for (int calls = 0; calls < 5; ++calls) {
        try {
            if (!reader.getNextDomain(domain, "*")) break;
            names.push_back(domain.name);
        } catch (const CGStoreException& e) {
            ++failures;
            EXPECT_EQ("domain Example.COM in \"" + tmp.path() + "/Domains/Example.COM\" has the name of the primary "
                      "domain, read from \"" + tmp.path() + "/Accounts\": not read",
                      std::string(e.what()));
        }
    }
    EXPECT_EQ(std::vector<std::string>{"other.org"}, names);
    EXPECT_EQ(1, failures);
    EXPECT_NE(std::string::npos, out.str().find("Error: domain Example.COM in \""));
    // Under another primary domain it is a domain like any other.
    Reader another(out);
    another.initialize(tmp.path(), "main.org");
    ASSERT_TRUE(another.getFirstDomain(domain, "*"));
    std::set<std::string> all;
    while (another.getNextDomain(domain, "*")) all.insert(domain.name);
    EXPECT_EQ((std::set<std::string>{"Example.COM", "other.org"}), all);
}

TEST_F(ReaderWalk, PrimaryDomainSelectedButAccountsMissingStillWalksTheOtherDomains) {
    makeDirs(tmp.path() + "/Domains/other.org");
    EXPECT_EQ("default domain not found, wrong path",
              errorText<CGStoreException>([&] { reader.getFirstDomain(domain, "*"); }));
    EXPECT_EQ("Error: default domain not found, wrong path\n", out.str());
    ASSERT_TRUE(reader.getNextDomain(domain, "*"));
    EXPECT_EQ("other.org", domain.name);
    EXPECT_FALSE(reader.getNextDomain(domain, "*"));
}

TEST_F(ReaderWalk, GetFirstDomainRestartsTheWalk) {
    makeDirs(tmp.path() + "/Accounts");
    makeDirs(tmp.path() + "/Domains/d1");
    reader.initialize(tmp.path(), "p");
    EXPECT_EQ((std::vector<std::string>{"p", "d1"}), walk("*"));
    EXPECT_EQ((std::vector<std::string>{"p", "d1"}), walk("*"));
}

TEST_F(ReaderWalk, MissingStoreYieldsNothingUnlessThePrimaryDomainIsSelected) {
    reader.initialize("/nonexistent/tarmig-store", "example.com");
    EXPECT_FALSE(reader.getFirstDomain(domain, "other*"));
    EXPECT_THROW(reader.getFirstDomain(domain, "*"), CGStoreException);
    EXPECT_FALSE(reader.getNextDomain(domain, "*"));
}

TEST_F(ReaderWalk, DomainNamesWithBlanksAndNonAsciiBytes) {
    makeDirs(tmp.path() + "/Domains/my domain \xC3\xA9.org");
    EXPECT_EQ(std::vector<std::string>{"my domain \xC3\xA9.org"}, walk("MY*\xC3\xA9.ORG"));
    EXPECT_EQ("Info: read domain (my domain \xC3\xA9.org) path: \"" + tmp.path() + "/Domains/my domain \xC3\xA9.org\"\n",
              out.str());
}
