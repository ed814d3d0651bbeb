#include "store/Parser.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "ParseText.h"
#include "store/CGException.h"
#include "support/StoreBuilder.h"
#include "utils/KMemoryStream.h"

using tarmig::CGParseException;
using tarmig::Parser;
using tarmig::TreeNode;
using zenqa::utils::KMemoryStream;
using namespace tarmig::testing;

TEST(Parser, ReadsTheDocumentedExample) {
    TreeNode root;
    parseText("{RealName = \"Sales Desk\"; Flags = (x, \"y z\"); #StorageUsed = #1024;}", root);
    EXPECT_EQ(3u, root.children.size());
    EXPECT_EQ("Sales Desk", root["RealName"].value);
    EXPECT_EQ(2u, root["Flags"].elements.size());
    EXPECT_EQ("x", root["Flags"][0].value);
    EXPECT_EQ("y z", root["Flags"][1].value);
    EXPECT_EQ("1024", root["#StorageUsed"].value);
    EXPECT_EQ("", root.value);
}

TEST(Parser, ScalarsKeepTheirTextUnconverted) {
    TreeNode root;
    parseText("{n = #-5; big = #123456789012345678901234567890; t = #T20-02-2004_12:34:56; "
              "d = [SGVsbG8=]; e = \"\"; b = a{b}[c]\"d#\xC3\xA9; nested = {k = (1, (2, {x = y;}));};}",
              root);
    EXPECT_EQ("-5", root["n"].value);
    EXPECT_EQ("123456789012345678901234567890", root["big"].value);
    EXPECT_EQ("20-02-2004_12:34:56", root["t"].value);
    EXPECT_EQ("SGVsbG8=", root["d"].value);
    EXPECT_EQ("", root["e"].value);
    EXPECT_EQ("a{b}[c]\"d#\xC3\xA9", root["b"].value);
    EXPECT_EQ("1", root["nested"]["k"][0].value);
    EXPECT_EQ("2", root["nested"]["k"][1][0].value);
    EXPECT_EQ("y", root["nested"]["k"][1][1]["x"].value);
}

TEST(Parser, TopLevelScalarsAndEmptyContainers) {
    TreeNode a, b, c, d;
    parseText("  plain  ", a);
    EXPECT_EQ("plain", a.value);
    parseText("#T", b);
    EXPECT_EQ("", b.value);
    parseText("{}", c);
    EXPECT_TRUE(c.children.empty());
    parseText("( )", d);
    EXPECT_TRUE(d.elements.empty());
}

TEST(Parser, EmptyOrWhiteInputLeavesTheRootEmpty) {
    for (std::string text : {std::string(), std::string(" \r\n\t"), std::string("\0\x01\x20", 3)}) {
        TreeNode root;
        EXPECT_NO_THROW(parseText(text, root));
        EXPECT_EQ("", root.value);
        EXPECT_TRUE(root.children.empty());
        EXPECT_EQ("", root["RealName"].value);
    }
}

TEST(Parser, ByteOrderMarkStartsABareString) {
    TreeNode root;
    parseText("\xEF\xBB\xBF{a = b;}", root);
    EXPECT_EQ("\xEF\xBB\xBF{a", root.value);
    EXPECT_TRUE(root.children.empty());
}

TEST(Parser, ReadsOnlyTheFirstValue) {
    TreeNode root;
    parseText("{a = b;} {c = d;} garbage \"unclosed", root);
    EXPECT_EQ(1u, root.children.size());
    EXPECT_EQ("b", root["a"].value);
}

TEST(Parser, RepeatedKeysReplaceScalarsAndMergeContainers) {
    TreeNode root;
    parseText("{a = one; a = two; d = {x = 1;}; d = {y = 2;}; l = (p); l = (q, r);}", root);
    EXPECT_EQ("two", root["a"].value);
    EXPECT_EQ("1", root["d"]["x"].value);
    EXPECT_EQ("2", root["d"]["y"].value);
    EXPECT_EQ("q", root["l"][0].value);
    EXPECT_EQ("r", root["l"][1].value);
}

TEST(Parser, KeysOrderByUnsignedBytes) {
    TreeNode root;
    parseText("{b = 1; \"\xC3\xA9\" = 2; B = 3; Archive/2004 = 4; \"Archive 2\" = 5; Archive = 6; a = 7;}", root);
    std::string order;
    for (const auto& [key, node] : root.children) order += node->value;
    EXPECT_EQ("6543712", order);
}

TEST(Parser, QuotedKeysMayHoldBlanks) {
    TreeNode root;
    parseText("{\"Sent Items\" = {Class = IPF.Note;};}", root);
    EXPECT_EQ("IPF.Note", root["Sent Items"]["Class"].value);
    EXPECT_EQ("expected '=' at line 1, byte 7", errorOf("{Sent Items = x;}"));
}

TEST(Parser, Escapes) {
    TreeNode root;
    parseText("\"a\\nb\\ec\\rd\\te\\\"f\\\\g\\065\\101\\255\\256\\000h\nraw\"", root);
    EXPECT_EQ(std::string("a\nb\nc\rd\te\"f\\gAe\xFF\0\0h\nraw", 23), root.value);
}

TEST(Parser, LookupCreatesEmptyChildren) {
    TreeNode root("x");
    EXPECT_EQ("", root["missing"].value);
    EXPECT_EQ("", root[7].value);
    EXPECT_EQ(1u, root.children.count("missing"));
    EXPECT_EQ(1u, root.elements.count(7));
    EXPECT_EQ("x", root.value);
}

TEST(Parser, EveryErrorMessageWithItsPosition) {
    struct Case {
        std::string text, message;
    };
    const Case cases[] = {
        {"{a = b}", "unexpected EOF at line 1, byte 8"},
        {"{a = b;", "unexpected EOF at line 1, byte 8"},
        {"{a", "unexpected EOF at line 1, byte 3"},
        {"{a = ", "unexpected EOF at line 1, byte 6"},
        {"{", "unexpected EOF at line 1, byte 2"},
        {"(a", "unexpected EOF at line 1, byte 3"},
        {"(a,", "unexpected EOF at line 1, byte 4"},
        {"\"open", "unexpected EOF at line 1, byte 6"},
        {"[abc", "unexpected EOF at line 1, byte 5"},
        {"#", "unexpected EOF at line 1, byte 2"},
        {"#-", "unexpected EOF at line 1, byte 3"},
        {"{a = ;}", "atom expected at line 1, byte 6"},
        {"{= x;}", "atom expected at line 1, byte 2"},
        {"(a,)", "atom expected at line 1, byte 4"},
        {"(a,,b)", "atom expected at line 1, byte 4"},
        {"{Two Words = x;}", "expected '=' at line 1, byte 6"},
        {"{a = b c;}", "expected ';' at line 1, byte 8"},
        {"{a = #TPAST;}", "expected ';' at line 1, byte 8"},
        {"{a = #12abc;}", "expected ';' at line 1, byte 9"},
        {"{a = \"x\" y;}", "expected ';' at line 1, byte 10"},
        {"(a b)", "expected ',' at line 1, byte 4"},
        {"#x", "digit expected at line 1, byte 2"},
        {"{a = #-;}", "digit expected at line 1, byte 8"},
        {"[SGVs\nbG8=]", "bad char in datablock at line 1, byte 6"},
        {"[a b]", "bad char in datablock at line 1, byte 3"},
        {"\"\\x\"", "unknown escpae sequence '\\x' at line 1, byte 3"},
        {"\"\\", "unknown escpae sequence '\\\xFF' at line 1, byte 3"},
        {"\"\\12\"", "expected numerical escape sequence '\\nnn' at line 1, byte 5"},
        {"\"\\1\"", "expected numerical escape sequence '\\nnn' at line 1, byte 4"},
        {"\"\\1", "expected numerical escape sequence '\\nnn' at line 1, byte 4"},
        {"{\n  a = b;\r\n  c = d e;\n}", "expected ';' at line 3, byte 9"},
        {"{a =\n\n", "unexpected EOF at line 3, byte 1"},
        {"{a = \"x\ny\" z;}", "expected ';' at line 2, byte 4"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.message, errorOf(c.text)) << c.text;
}

TEST(Parser, AcceptsTheSeparatorRules) {
    for (std::string text : {"{a = b;}", "(a , b)", "{ }", "{a=b;c=(1,2);}", "{\"\"=x;}"}) {
        EXPECT_EQ("", errorOf(text)) << text;
    }
    TreeNode root;
    parseText("(a , b)", root);
    EXPECT_EQ("b", root[1].value);
}

TEST(Parser, NestingIsLimited) {
    auto nested = [](int levels) {
        std::string text;
        for (int i = 0; i < levels; ++i) text += "{a = ";
        text += "x;";
        for (int i = 0; i < levels; ++i) text += "};";
        text.pop_back();
        return text;
    };
    EXPECT_EQ("", errorOf(nested(Parser::MaxDepth)));
    const std::string deepAt = "nesting too deep at line 1, byte ";
    EXPECT_EQ(deepAt + std::to_string(5 * Parser::MaxDepth + 1), errorOf(nested(Parser::MaxDepth + 1)));
    EXPECT_EQ(deepAt + std::to_string(Parser::MaxDepth + 1), errorOf(std::string(1000000, '(')));
    EXPECT_EQ(deepAt + std::to_string(Parser::MaxDepth + 1),
              errorOf(std::string(Parser::MaxDepth + 1, '(') + std::string(Parser::MaxDepth + 1, ')')));
    EXPECT_EQ("", errorOf(std::string(Parser::MaxDepth, '(') + std::string(Parser::MaxDepth, ')')));
}

TEST(Parser, HugeValues) {
    std::string big(3 * 1024 * 1024, 'x');
    TreeNode root;
    parseText("{k = \"" + big + "\"; " + big + " = " + big + ";}", root);
    EXPECT_EQ(big, root["k"].value);
    EXPECT_EQ(big, root[big].value);
}

TEST(Parser, ReadsFilesAcrossBlockBoundaries) {
    TempDir tmp;
    std::string value(10000, 'v');
    std::string path = tmp.path() + "/account.settings";
    // The quoted value straddles several 4096-byte blocks, and so do escapes.
    std::string escapes;
    for (int i = 0; i < 3000; ++i) escapes += "\\065";
    writeFile(path, "{RealName = \"" + value + "\"; E = \"" + escapes + "\"; N = #42;}\n");
    TreeNode root;
    Parser::parse(path, root);
    EXPECT_EQ(value, root["RealName"].value);
    EXPECT_EQ(std::string(3000, 'A'), root["E"].value);
    EXPECT_EQ("42", root["N"].value);
}

TEST(Parser, ReadErrorIsNotTakenForTheEndOfTheFile) {
    // /proc/self/mem opens as a regular file, but reading at offset 0 fails.
    TreeNode root;
    EXPECT_EQ("cannot read file /proc/self/mem",
              errorText<CGParseException>([&] { Parser::parse("/proc/self/mem", root); }));
}

TEST(Parser, FilesThatCannotBeOpened) {
    TempDir tmp;
    makeDirs(tmp.path() + "/dir");
    ASSERT_EQ(0, symlink("nowhere", (tmp.path() + "/dangling").c_str()));
    // A FIFO without a writer must be refused, not waited on.
    ASSERT_EQ(0, mkfifo((tmp.path() + "/fifo").c_str(), 0600));
    for (std::string name : {"/missing", "/dir", "/dangling", "/fifo"}) {
        TreeNode root;
        std::string path = tmp.path() + name;
        EXPECT_EQ("cannot open file " + path, errorText<CGParseException>([&] { Parser::parse(path, root); }));
    }
}
