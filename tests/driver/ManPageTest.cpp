#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "driver/Help.h"
#include "support/StoreBuilder.h"

// The manual page is written by hand; these checks keep it in step with the
// options the program accepts and the help text lists.
namespace {

std::string manPage() { return tarmig::testing::readFile(TARMIG_SOURCE_DIR "/doc/tarmig.1.in"); }

// Options the help text lists, e.g. "-path", "-?".
std::set<std::string> helpOptions() {
    std::ostringstream out;
    tarmig::printHelp(out);
    std::set<std::string> options;
    const std::string text = out.str();
    const std::regex line("\n {7}(-[A-Za-z?]+)");
    for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) options.insert((*it)[1]);
    return options;
}

// In roff an option is written with an escaped minus, as the item of a .TP entry.
bool describes(const std::string& page, const std::string& option) {
    const std::string escaped = "\\" + option;
    for (const char* macro : {"\n.B ", "\n.BI ", "\n.BR "}) {
        const std::string item = ".TP" + std::string(macro) + escaped;
        for (auto at = page.find(item); at != std::string::npos; at = page.find(item, at + 1)) {
            const char next = page[at + item.size()];
            if (next == '\n' || next == ' ' || next == '"' || next == ',') return true;
        }
    }
    return false;
}

TEST(ManPage, DescribesEveryOptionOfTheHelpTextAndTheHiddenOne) {
    const std::string page = manPage();
    std::set<std::string> options = helpOptions();
    ASSERT_GT(options.size(), 15u);
    EXPECT_TRUE(options.count("-version"));
    options.insert("-disableCrLfFixing");
    for (const std::string& option : options) EXPECT_TRUE(describes(page, option)) << option;
}

TEST(ManPage, NamesTheFilesTheExitStatusesAndTheVersionFromTheBuild) {
    const std::string page = manPage();
    for (const char* text : {"\n.SH FILES\n", "\n.I tarmig_YYYY\\-MM\\-DD_hh\\-mm\\-ss.log\n",
                             "\n.I tarmig_YYYY\\-MM\\-DD_hh\\-mm\\-ss.pass\n", "\n.SH EXIT STATUS\n",
                             "\n.TP\n.B 0\n", "\n.TP\n.B 1\n", "\n.TP\n.B 2\n", "\n.TP\n.B 3\n", "\n.SH EXAMPLES\n",
                             "\"tarmig @PROJECT_VERSION@\" \"User Commands\"\n"}) {
        EXPECT_NE(page.find(text), std::string::npos) << text;
    }
}

}  // namespace
