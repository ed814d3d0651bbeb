#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/RunTool.h"
#include "support/StoreBuilder.h"
#include "support/VantrelServer.h"

// A bigger run SIGKILLed at random moments, once or several times over, then
// finished with -incremental: the target ends as after one clean run, each
// message once with its flags and date. The moments come from a seed the
// test prints; TARMIG_TEST_SEED=<n> replays one.
namespace {

using namespace tarmig::testing;
using Clock = std::chrono::steady_clock;

// One message as a user sees it: data, flags in any order, the date it was
// sent with ("" for one without a readable date, which the target dates).
using Seen = std::tuple<std::string, std::vector<std::string>, std::string>;

struct FolderHolding {
    std::string type;
    std::vector<Seen> messages;  // sorted
    bool operator==(const FolderHolding&) const = default;
};

// Per "account@domain" the password, per "account@domain folder" the folder.
struct Holding {
    std::map<std::string, std::string> passwords;
    std::map<std::string, FolderHolding> folders;
};

Holding holding(const VantrelDump& dump) {
    Holding held;
    for (const VantrelAccount& account : dump.accounts) {
        const std::string address = account.name + "@" + account.domain;
        held.passwords[address] = account.password;
        for (const VantrelFolder& folder : account.folders) {
            FolderHolding& kept = held.folders[address + " " + folder.name];
            kept.type = folder.type;
            for (const VantrelMessage& m : folder.messages) {
                std::vector<std::string> flags = m.flags;
                std::sort(flags.begin(), flags.end());
                kept.messages.emplace_back(m.data, flags, m.date);
            }
            std::sort(kept.messages.begin(), kept.messages.end());
        }
    }
    return held;
}

std::size_t messageCount(const Holding& held) {
    std::size_t count = 0;
    for (const auto& [name, folder] : held.folders) count += folder.messages.size();
    return count;
}

// The message's first line, flags and date, enough to find it in the store.
std::string described(const Seen& message) {
    const auto& [data, flags, date] = message;
    std::string text = "[" + data.substr(0, data.find('\r')) + "] flags (";
    for (const std::string& flag : flags) text += (text.back() == '(' ? "" : " ") + flag;
    return text + ") date \"" + date + "\"";
}

// What sets `got` apart from `clean`, in at most a dozen lines; "" when
// nothing does.
std::string differences(const Holding& clean, const Holding& got) {
    std::vector<std::string> lines;
    if (clean.passwords != got.passwords) lines.push_back("accounts or passwords differ");
    std::map<std::string, FolderHolding> all = clean.folders;
    all.insert(got.folders.begin(), got.folders.end());
    for (const auto& [name, unused] : all) {
        const auto want = clean.folders.find(name);
        const auto have = got.folders.find(name);
        if (want == clean.folders.end() || have == got.folders.end()) {
            lines.push_back("folder " + name + (want == clean.folders.end() ? " is extra" : " is missing"));
            continue;
        }
        if (want->second.type != have->second.type) lines.push_back("folder " + name + " has another type");
        std::vector<Seen> missing, extra;
        std::set_difference(want->second.messages.begin(), want->second.messages.end(),
                            have->second.messages.begin(), have->second.messages.end(), std::back_inserter(missing));
        std::set_difference(have->second.messages.begin(), have->second.messages.end(),
                            want->second.messages.begin(), want->second.messages.end(), std::back_inserter(extra));
        for (const Seen& m : missing)
            lines.push_back("folder " + name + " lacks " + described(m));
        for (const Seen& m : extra)
            lines.push_back("folder " + name + " holds another " + described(m));
    }
    std::string text;
    for (std::size_t i = 0; i < lines.size() && i < 12; ++i) text += lines[i] + "\n";
    if (lines.size() > 12) text += "and " + std::to_string(lines.size() - 12) + " more\n";
    return text;
}

// A message numbered n: its size, flags, date and Message-ID vary with n;
// every seventh has no Message-ID.
MboxMessage numbered(const std::string& where, int n) {
    static const char* const flags[] = {"", "S", "SA", "F", "D", "SP", "SF", ""};
    std::string data;
    if (n % 7 != 3) data += "Message-ID: <" + std::to_string(n) + "." + where + "@x>\n";
    data += "Subject: " + where + " " + std::to_string(n) + "\n\n";
    for (int line = 0; line < 1 + n % 9; ++line)
        data += "line " + std::to_string(line) + " of message " + std::to_string(n) + "\n";
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%02d-03-2004_%02d:%02d:%02d_", 1 + n % 28, n % 24, n % 60, (n * 7) % 60);
    return storedMessage(data, flags[n % 8], stamp);
}

// The same message as an .mdir file: flags and a 14-digit stamp of the same moment.
void addMdirCopy(StoreBuilder& builder, const std::string& mdir, const MboxMessage& m) {
    const std::string& s = m.timestamp;  // "DD-MM-YYYY_hh:mm:ss_"
    builder.addMdirMessage(mdir, m.flags, s.substr(6, 4) + s.substr(3, 2) + s.substr(0, 2) + s.substr(11, 2) +
                                             s.substr(14, 2) + s.substr(17, 2),
                           m.data);
}

std::vector<MboxMessage> numberedRange(const std::string& where, int count) {
    std::vector<MboxMessage> messages;
    for (int n = 0; n < count; ++n) messages.push_back(numbered(where, n));
    return messages;
}

std::string countOf(const std::vector<MboxMessage>& messages) { return std::to_string(messages.size()); }

// Three accounts in two domains, over a thousand messages in .mbox and .mdir
// folders, a nested folder, an empty one, twins that share all three keys
// and messages without a readable date: a clean run takes a few tenths of a
// second, so a random moment falls in every phase of it.
void buildStore(StoreBuilder& builder) {
    std::vector<MboxMessage> inbox = numberedRange("ann-inbox", 320);
    inbox.insert(inbox.begin() + 160, inbox[10]);
    inbox.push_back(storedMessage("Message-ID: <undated@x>\nSubject: undated\n\nno date\n", "S", "garbage"));
    const std::vector<MboxMessage> archive = numberedRange("ann-archive", 160);
    const std::vector<MboxMessage> projects = numberedRange("ann-projects", 120);
    const std::string ann = builder.addMacnt(
        "", "ann", settingsText({{"Password", "ann-pw"}}),
        infoText("", {{"INBOX", "", countOf(inbox), ""}, {"Archive", "", countOf(archive), ""},
                      {"Projects/2004", "", countOf(projects), ""}, {"Contacts", "IPF.Contact", "", ""}}));
    builder.addMboxFolder(ann, "INBOX", mboxText(inbox));
    const std::string archiveDir = builder.addMdirFolder(ann, "Archive");
    for (const MboxMessage& m : archive) addMdirCopy(builder, archiveDir, m);
    builder.addMboxFolder(ann, "Projects/2004", mboxText(projects));

    std::vector<MboxMessage> bobs = numberedRange("bob", 240);
    // Two copies of one undated message: both arrive, once each.
    bobs.push_back(storedMessage("Subject: undated twin\n\nsame\n", "", "garbage"));
    bobs.push_back(storedMessage("Subject: undated twin\n\nsame\n", "F", "garbage"));
    builder.addMboxAccount("", "bob", settingsText({{"Password", "bob-pw"}}),
                           infoText("", {{"INBOX", "", countOf(bobs), ""}}), mboxText(bobs));

    std::vector<MboxMessage> carls = numberedRange("carl-inbox", 200);
    carls.push_back(carls[20]);
    const std::vector<MboxMessage> sent = numberedRange("carl-sent", 160);
    const std::string carl = builder.addMacnt(
        "second.example.com", "carl", settingsText({{"Password", "carl-pw"}}),
        infoText("", {{"INBOX", "", countOf(carls), ""}, {"Sent", "", countOf(sent), ""}}));
    const std::string carlInbox = builder.addMdirFolder(carl, "INBOX");
    for (const MboxMessage& m : carls) addMdirCopy(builder, carlInbox, m);
    builder.addMboxFolder(carl, "Sent", mboxText(sent));
}

unsigned seedOfThisRun() {
    if (const char* fixed = std::getenv("TARMIG_TEST_SEED"))
        return static_cast<unsigned>(std::strtoul(fixed, nullptr, 10));
    return std::random_device{}();
}

class RandomKillRun : public ::testing::Test {
protected:
    void SetUp() override { buildStore(builder); }

    std::vector<std::string> arguments(const VantrelServer& server, bool incremental, bool twoJobs) const {
        std::vector<std::string> args = {"-path", store.path(), "-primaryDomain", "example.com", "-migrate",
                                         "-server", "127.0.0.1", "-port", std::to_string(server.port()),
                                         "-password", server.masterPassword()};
        if (incremental) args.push_back("-incremental");
        if (twoJobs) args.insert(args.end(), {"-jobs", "2"});
        return args;
    }

    // Starts a run and SIGKILLs it after `delay`, unless it ended before;
    // reaps it and says whether the kill hit it.
    bool killAfter(const std::vector<std::string>& args, Clock::duration delay) {
        TempDir work;
        const pid_t pid = startTool(args, work.path());
        if (pid <= 0) return false;
        const Clock::time_point due = Clock::now() + delay;
        int status = 0;
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() >= due) {
                ::kill(pid, SIGKILL);
                ::waitpid(pid, &status, 0);
                return true;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        return false;
    }

    TempDir store;
    StoreBuilder builder{store.path()};
};

TEST_F(RandomKillRun, KilledAtRandomMomentsThenResumedEndsAsOneCleanRun) {
    Holding clean;
    Clock::duration cleanWall;
    {
        VantrelServer server;
        TempDir work;
        const Clock::time_point start = Clock::now();
        const ToolRun run = runTool(arguments(server, true, false), work.path());
        cleanWall = Clock::now() - start;
        ASSERT_EQ(0, run.exitStatus) << run.out;
        server.stop();
        clean = holding(server.dump());
    }
    ASSERT_EQ(3u, clean.passwords.size());
    // The nested folder's parent level is created too.
    ASSERT_EQ(8u, clean.folders.size());
    ASSERT_EQ(1205u, messageCount(clean));

    const unsigned seed = seedOfThisRun();
    SCOPED_TRACE("TARMIG_TEST_SEED=" + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<Clock::rep> moment(0, cleanWall.count() - 1);
    const Clock::time_point endOfStarts = Clock::now() + std::chrono::seconds(40);
    int iterations = 0, hits = 0;
    while (iterations < 8 && Clock::now() < endOfStarts) {
        ++iterations;
        // The first iteration kills twice before the resume that finishes
        // it, the second runs side by side (-jobs 2); in every other one the
        // first run is without -incremental, as a first migration is.
        const int kills = iterations == 1 ? 2 : 1 + static_cast<int>(random() % 2);
        const bool twoJobs = iterations == 2;
        SCOPED_TRACE("iteration " + std::to_string(iterations) + ", " + std::to_string(kills) + " kills" +
                     (twoJobs ? ", -jobs 2" : ""));
        VantrelServer server;
        for (int kill = 0; kill < kills; ++kill)
            hits += killAfter(arguments(server, kill > 0 || iterations % 2 == 1, twoJobs),
                              Clock::duration(moment(random)));
        TempDir work;
        const ToolRun resumed = runTool(arguments(server, true, twoJobs), work.path());
        EXPECT_EQ(0, resumed.exitStatus) << resumed.out;
        server.stop();
        const std::string differ = differences(clean, holding(server.dump()));
        EXPECT_TRUE(differ.empty()) << differ;
        if (HasFailure()) break;
    }
    std::cout << "clean run " << std::chrono::duration<double>(cleanWall).count() << " s; " << iterations
              << " iterations, " << hits << " runs killed before their end\n";
    EXPECT_TRUE(HasFailure() || iterations >= 2) << "too few iterations to judge";
    EXPECT_GT(hits, 0) << "no run was killed";
}

}  // namespace
