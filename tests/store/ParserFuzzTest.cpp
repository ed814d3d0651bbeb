#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "store/CGException.h"
#include "store/Parser.h"
#include "utils/KMemoryStream.h"

using tarmig::CGParseException;
using tarmig::Parser;
using tarmig::TreeNode;

namespace {

const std::vector<std::string> seeds = {
    "{RealName = \"Sales Desk\"; Flags = (x, \"y z\"); #StorageUsed = #1024;}\n",
    "{#StorageUsed = #2048; Sent = {Class = IPF.Note; Messages = #3; Size = #1500;}; INBOX = {Messages = #12;};}",
    "{a = [SGVsbG8=]; t = #T20-02-2004_12:34:56; e = \"\\065\\t\\\"\\\\\"; l = ((1), {}, ());}",
    "(a, \"b\", #-7, #TPAST, [], {k = v;})",
    "{i = #I[1.2.3.4]:25; n = #NULL#; t = #(a, #(b)); x = <a k=\"v\">t u</a>; s = \"a\" \"b\"; d = [QQ==] [Qg==];}",
};

const std::string interesting = "{}()[]\";=,#T-\\ \n0123456789ne\xFFINUL<>/:'";

std::string mutate(std::string text, std::mt19937& rng) {
    auto pick = [&](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    int edits = 1 + static_cast<int>(pick(8));
    for (int i = 0; i < edits; ++i) {
        std::size_t at = text.empty() ? 0 : pick(text.size() + 1);
        switch (pick(5)) {
        case 0:  // insert an interesting byte
            text.insert(at, 1, interesting[pick(interesting.size())]);
            break;
        case 1:  // insert any byte
            text.insert(at, 1, static_cast<char>(pick(256)));
            break;
        case 2:  // delete a run
            if (!text.empty() && at < text.size()) text.erase(at, 1 + pick(4));
            break;
        case 3:  // overwrite a byte
            if (at < text.size()) text[at] = static_cast<char>(pick(256));
            break;
        default:  // duplicate a slice somewhere else
            if (!text.empty()) {
                std::size_t from = pick(text.size());
                text.insert(at, text.substr(from, 1 + pick(16)));
            }
        }
    }
    return text;
}

}  // namespace

// Mutated and random input either parses or raises CGParseException; any
// other outcome (another exception, a crash, a sanitizer report) is a fault.
TEST(ParserFuzz, MutatedInputOnlyParsesOrRaisesParseErrors) {
    std::mt19937 rng(20040220);
    int parsed = 0, rejected = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string text;
        if (round % 10 == 9) {
            text.resize(std::uniform_int_distribution<std::size_t>(0, 300)(rng));
            for (char& c : text) c = static_cast<char>(rng());
        } else {
            text = mutate(seeds[round % seeds.size()], rng);
        }
        TreeNode root;
        zenqa::utils::KMemoryStream stream(text);
        try {
            Parser::parse(&stream, root);
            ++parsed;
        } catch (const CGParseException& e) {
            EXPECT_STRNE("", e.what());
            ++rejected;
        } catch (...) {
            ADD_FAILURE() << "unexpected exception for input of " << text.size() << " bytes (round " << round << ")";
        }
    }
    // Both outcomes must occur, or the mutations are not exercising the parser.
    EXPECT_GT(parsed, 100);
    EXPECT_GT(rejected, 100);
}
