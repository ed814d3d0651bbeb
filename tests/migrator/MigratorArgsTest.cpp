#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "migrator/Migrator.h"

namespace {

tarmig::RunOptions parse(std::vector<std::string> args) {
    args.insert(args.begin(), "tarmig");
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return tarmig::Migrator::parseArgs(static_cast<int>(args.size()), argv.data());
}

TEST(MigratorParseArgs, DefaultsAreResetBeforeScanning) {
    tarmig::RunOptions p = parse({});
    EXPECT_EQ(p.path, "");
    EXPECT_EQ(p.server, "");
    EXPECT_EQ(p.port, 143);
    EXPECT_FALSE(p.migrate);
    EXPECT_FALSE(p.force);
    EXPECT_FALSE(p.quiet);
    EXPECT_FALSE(p.help);
    EXPECT_FALSE(p.version);
    EXPECT_TRUE(p.fixLineEnds);
    EXPECT_FALSE(p.useTls);
    EXPECT_FALSE(p.insecure);
}

TEST(MigratorParseArgs, EveryOptionIsReadWhateverItsCase) {
    tarmig::RunOptions p = parse({"-PATH", "/var/CG", "-Domain", "ex*.com", "-primaryDomain", "main.org", "-USER", "ann",
                      "-password", "secret", "-SetPass", "sp", "-FORCESETPASS", "fsp", "-server", "imap.local",
                      "-Port", "1143", "-MIGRATE", "-Force", "-quiet", "-disablecrlffixing"});
    EXPECT_EQ(p.path, "/var/CG");
    EXPECT_EQ(p.domain, "ex*.com");
    EXPECT_EQ(p.primaryDomain, "main.org");
    EXPECT_EQ(p.user, "ann");
    EXPECT_EQ(p.password, "secret");
    EXPECT_EQ(p.setPass, "sp");
    EXPECT_EQ(p.forceSetPass, "fsp");
    EXPECT_EQ(p.server, "imap.local");
    EXPECT_EQ(p.port, 1143);
    EXPECT_TRUE(p.migrate);
    EXPECT_TRUE(p.force);
    EXPECT_TRUE(p.quiet);
    EXPECT_FALSE(p.fixLineEnds);
    EXPECT_FALSE(p.help);
    EXPECT_FALSE(p.version);
}

TEST(MigratorParseArgs, NamesMustMatchWholeArguments) {
    tarmig::RunOptions p = parse({"-pa", "/x", "-pathx", "/y", "-migrat", "--force", "migrate"});
    EXPECT_EQ(p.path, "");
    EXPECT_FALSE(p.migrate);
    EXPECT_FALSE(p.force);
}

TEST(MigratorParseArgs, ValuesAreTakenVerbatimEvenWhenTheyLookLikeOptions) {
    tarmig::RunOptions p = parse({"-password", "-migrate", "-path", " /with space/ "});
    EXPECT_EQ(p.password, "-migrate");
    EXPECT_FALSE(p.migrate);
    EXPECT_EQ(p.path, " /with space/ ");
}

TEST(MigratorParseArgs, ValueOptionAsLastArgumentIsIgnored) {
    EXPECT_EQ(parse({"-migrate", "-path"}).path, "");
    EXPECT_TRUE(parse({"-migrate", "-path"}).migrate);
    EXPECT_EQ(parse({"-port"}).port, 143);
}

TEST(MigratorParseArgs, LaterOccurrenceWins) {
    tarmig::RunOptions p = parse({"-path", "/a", "-user", "x", "-path", "/b"});
    EXPECT_EQ(p.path, "/b");
    EXPECT_EQ(p.user, "x");
}

TEST(MigratorParseArgs, HelpByEitherSpelling) {
    EXPECT_TRUE(parse({"-path", "/a", "-?"}).help);
    EXPECT_TRUE(parse({"-HELP"}).help);
    EXPECT_FALSE(parse({"-path", "-help"}).help);  // "-help" is the path here
}

TEST(MigratorParseArgs, PortFollowsStrtolWithZeroMeaningDefault) {
    EXPECT_EQ(parse({"-port", "0"}).port, 143);
    EXPECT_EQ(parse({"-port", "abc"}).port, 143);
    EXPECT_EQ(parse({"-port", ""}).port, 143);
    EXPECT_EQ(parse({"-port", "993x"}).port, 993);
    EXPECT_EQ(parse({"-port", "  +25"}).port, 25);
    EXPECT_EQ(parse({"-port", "-7"}).port, -7);
    // 2^32 + 143 must not wrap around to 143.
    EXPECT_EQ(parse({"-port", "4294967439"}).port, INT_MAX);
    EXPECT_EQ(parse({"-port", "-4294967153"}).port, INT_MIN);
}

TEST(MigratorParseArgs, TlsMovesTheDefaultPortOnly) {
    tarmig::RunOptions tls = parse({"-SSL", "-insecure"});
    EXPECT_TRUE(tls.useTls);
    EXPECT_TRUE(tls.insecure);
    EXPECT_EQ(tls.port, 993);
    EXPECT_EQ(parse({"-port", "0", "-ssl"}).port, 993);
    EXPECT_EQ(parse({"-ssl", "-port", "1993"}).port, 1993);
    EXPECT_EQ(parse({"-port", "143", "-ssl"}).port, 143);
    EXPECT_FALSE(parse({"-insecure"}).useTls);
}

TEST(MigratorParseArgs, TimeoutIsWholeSecondsFromOne) {
    EXPECT_EQ(parse({}).timeoutSeconds, 180);
    EXPECT_EQ(parse({"-TimeOut", "2"}).timeoutSeconds, 2);
    EXPECT_EQ(parse({"-timeout", "2147483647"}).timeoutSeconds, 2147483647);
    EXPECT_EQ(parse({"-timeout"}).timeoutSeconds, 180);
    // 0 is the driver's sign for a value it refuses.
    for (const char* bad : {"0", "-5", "", "abc", "5x", "1.5", "2147483648", "99999999999999999999"}) {
        EXPECT_EQ(parse({"-timeout", bad}).timeoutSeconds, 0) << bad;
    }
}

TEST(MigratorParseArgs, FirstArgumentThatIsNeitherOptionNorValueIsNamed) {
    tarmig::RunOptions p = parse({"stray", "-verbose", "-path", "/p"});
    EXPECT_EQ(p.unknownArgument, "stray");
    EXPECT_EQ(p.path, "/p");  // the rest is still read
    EXPECT_EQ(parse({"-migrate", "-domian", "example.org"}).unknownArgument, "-domian");
    EXPECT_EQ(parse({"-pa", "/x"}).unknownArgument, "-pa");
    EXPECT_EQ(parse({"-path", "/a", "--force"}).unknownArgument, "--force");
    // Values, however they look, and a value option that lacks its value are not.
    EXPECT_EQ(parse({"-password", "-nonsense", "-PORT", "x", "-Domain", "d", "-ssl", "-path"}).unknownArgument, "");
    EXPECT_EQ(parse({"-timeout", "-x", "-path", "/p", "-TIMEOUT"}).unknownArgument, "");
    EXPECT_EQ(parse({}).unknownArgument, "");
    EXPECT_EQ(parse({"-path", "/p", "-Domain"}).optionWithoutValue, "-Domain");
    EXPECT_EQ(parse({"-path", "/p", "-domain", "d"}).optionWithoutValue, "");
}

TEST(MigratorParseArgs, WindowIsWholeAppendsFromOne) {
    EXPECT_EQ(parse({}).window, 32);
    EXPECT_EQ(parse({"-path", "/s", "-WINDOW", "1"}).window, 1);
    EXPECT_EQ(parse({"-window", "128", "-path", "/s"}).window, 128);
    EXPECT_EQ(parse({"-window", "many"}).window, 0);
    EXPECT_EQ(parse({"-path", "/s", "-window"}).unknownArgument, "");
}

TEST(MigratorParseArgs, JobsAreWholeAccountsFromOneToSixtyFour) {
    EXPECT_EQ(parse({}).jobs, 1);
    EXPECT_EQ(parse({"-path", "/s", "-Jobs", "4"}).jobs, 4);
    EXPECT_EQ(parse({"-jobs", "64"}).jobs, 64);
    for (const char* value : {"65", "0", "-1", "4x", "", "four"}) EXPECT_EQ(parse({"-jobs", value}).jobs, 0) << value;
    EXPECT_EQ(parse({"-path", "/s", "-jobs"}).optionWithoutValue, "-jobs");
}

TEST(MigratorParseArgs, PasswordFileIsAValueOption) {
    tarmig::RunOptions p = parse({"-PASSWORDFILE", "/etc/tarmig/master", "-migrate"});
    EXPECT_EQ(p.passwordFile, "/etc/tarmig/master");
    EXPECT_EQ(p.password, "");
    EXPECT_EQ(p.unknownArgument, "");
    EXPECT_EQ(parse({"-password", "-", "-passwordFile"}).password, "-");
    EXPECT_EQ(parse({"-password", "-", "-passwordFile"}).unknownArgument, "");
}

TEST(MigratorParseArgs, ShardIsTakenVerbatimForTheDriverToCheck) {
    EXPECT_FALSE(parse({}).shard);
    EXPECT_EQ(parse({"-SHARD", "2/4", "-path", "/s"}).shard, "2/4");
    EXPECT_EQ(parse({"-shard", "junk"}).shard, "junk");
    // Given empty (an unset shell variable) is not the same as not given.
    EXPECT_EQ(parse({"-shard", ""}).shard, "");
    EXPECT_EQ(parse({"-path", "/s", "-shard"}).unknownArgument, "");
}

}  // namespace
