#include <gtest/gtest.h>

#include <string>

#include "ParseText.h"
#include "store/CGException.h"
#include "store/Parser.h"
#include "support/StoreBuilder.h"
#include "utils/KMemoryStream.h"

using tarmig::CGParseException;
using tarmig::Parser;
using tarmig::TreeNode;
using zenqa::utils::KMemoryStream;
using namespace tarmig::testing;

// The forms CommuniGate's own library writes beyond plain strings, numbers,
// timestamps and single data blocks, each next to the forms that read as before.

TEST(ParserForms, AdjacentQuotedStringsAreJoined) {
    TreeNode root;
    parseText(
        "{s = \"Sales\" \" Desk\"\r\n   \"\\065\"; one = \"x\"; "
        "l = (\"a\" \"b\", \"c\"); \"Sent\" \" Items\" = {Class = IPF.Note;};}",
        root);
    EXPECT_EQ("Sales DeskA", root["s"].value);
    EXPECT_EQ("x", root["one"].value);
    EXPECT_EQ("ab", root["l"][0].value);
    EXPECT_EQ("c", root["l"][1].value);
    EXPECT_EQ(2u, root["l"].elements.size());
    EXPECT_EQ("IPF.Note", root["Sent Items"]["Class"].value);
    // Only the first value of the input is read.
    TreeNode top;
    parseText("\"a\" \"b\"", top);
    EXPECT_EQ("a", top.value);
    // A quoted string is not joined to a bare one.
    EXPECT_EQ("expected ';' at line 1, byte 10", errorOf("{a = \"x\" y;}"));
}

TEST(ParserForms, AdjacentDataBlocksAreJoined) {
    TreeNode root;
    parseText("{d = [SGVs][bG8=]; e = [SGVs]\n  [bG8=]; f = [SGVsbG8=]; l = ([QQ==] [Qg==], []);}", root);
    EXPECT_EQ("SGVsbG8=", root["d"].value);
    EXPECT_EQ("SGVsbG8=", root["e"].value);
    EXPECT_EQ("SGVsbG8=", root["f"].value);
    EXPECT_EQ("QQ==Qg==", root["l"][0].value);
    EXPECT_EQ("", root["l"][1].value);
    EXPECT_EQ("expected ';' at line 1, byte 13", errorOf("{d = [QQ==] \"x\";}"));
}

TEST(ParserForms, AddressesKeepTheirText) {
    TreeNode root;
    parseText(
        "{a = #I[10.0.44.55]; p = #I[10.0.44.55]:25; v6 = #I[2001:db8::a:80f]:143; n = #25;"
        " l = (#I[127.0.0.1], #T20-02-2004_12:34:56);}",
        root);
    EXPECT_EQ("#I[10.0.44.55]", root["a"].value);
    EXPECT_EQ("#I[10.0.44.55]:25", root["p"].value);
    EXPECT_EQ("#I[2001:db8::a:80f]:143", root["v6"].value);
    EXPECT_EQ("25", root["n"].value);
    EXPECT_EQ("#I[127.0.0.1]", root["l"][0].value);
    EXPECT_EQ("20-02-2004_12:34:56", root["l"][1].value);

    EXPECT_EQ("bad char in address at line 1, byte 9", errorOf("{a = #I[];}"));
    EXPECT_EQ("bad char in address at line 1, byte 12", errorOf("{a = #I[1.2 3];}"));
    EXPECT_EQ("digit expected at line 1, byte 18", errorOf("{a = #I[1.2.3.4]:x;}"));
    EXPECT_EQ("expected '[' at line 1, byte 8", errorOf("{a = #I1.2.3.4;}"));
    EXPECT_EQ("unexpected EOF at line 1, byte 12", errorOf("{a = #I[1.2"));
}

TEST(ParserForms, NullObjectKeepsItsText) {
    TreeNode root;
    parseText("{a = #NULL#; b = (#NULL#, x); c = NULL;}", root);
    EXPECT_EQ("#NULL#", root["a"].value);
    EXPECT_EQ("#NULL#", root["b"][0].value);
    EXPECT_EQ("x", root["b"][1].value);
    EXPECT_EQ("NULL", root["c"].value);
    EXPECT_EQ("expected '#NULL#' at line 1, byte 10", errorOf("{a = #NULx#;}"));
    EXPECT_EQ("unexpected EOF at line 1, byte 10", errorOf("{a = #NUL"));
}

TEST(ParserForms, TypedArraysKeepTheirSourceText) {
    TreeNode root;
    parseText("{t = #(a, \"b c\", #I[1.2.3.4]:25, {k = v;}, #(1,\n 2), (x));  l = (p, q);}", root);
    EXPECT_EQ("#(a, \"b c\", #I[1.2.3.4]:25, {k = v;}, #(1,\n 2), (x))", root["t"].value);
    EXPECT_TRUE(root["t"].elements.empty());
    EXPECT_EQ("q", root["l"][1].value);
    TreeNode empty;
    parseText("(#())", empty);
    EXPECT_EQ("#()", empty[0].value);
    // The elements are read as an array's: the same errors, where they are.
    EXPECT_EQ("expected ',' at line 1, byte 10", errorOf("{t = #(a b);}"));
    EXPECT_EQ("unexpected EOF at line 2, byte 3", errorOf("{t = #(a,\n b"));
}

TEST(ParserForms, XmlValuesKeepTheirText) {
    TreeNode root;
    parseText(
        "{v = <vCard x=\"a > b; c\"><FN>Sales Desk</FN>\n<EMAIL/></vCard>; w = <b/>;"
        " l = (<a>x y</a>, <c d='e f'/>, z);}",
        root);
    EXPECT_EQ("<vCard x=\"a > b; c\"><FN>Sales Desk</FN>\n<EMAIL/></vCard>", root["v"].value);
    EXPECT_EQ("<b/>", root["w"].value);
    EXPECT_EQ("<a>x y</a>", root["l"][0].value);
    EXPECT_EQ("<c d='e f'/>", root["l"][1].value);
    EXPECT_EQ("z", root["l"][2].value);
    EXPECT_EQ(3u, root["l"].elements.size());
    EXPECT_EQ("unexpected EOF at line 1, byte 17", errorOf("{v = <a>b c</b;}"));
    EXPECT_EQ("expected ';' at line 1, byte 16", errorOf("{v = <a>b c</a></a>;}"));
    EXPECT_EQ("bad XML value at line 1, byte 11", errorOf("{v = </a b>;}"));
}

// Text that parsed before these forms were read keeps the meaning it had.
TEST(ParserForms, InputThatParsedBeforeKeepsItsMeaning) {
    TreeNode root;
    parseText("{a = <b>; c = </b>; d = <x; e = (<p>, q); f = a<b>c; g = <?x?>;}", root);
    EXPECT_EQ("<b>", root["a"].value);
    EXPECT_EQ("</b>", root["c"].value);
    EXPECT_EQ("<x", root["d"].value);
    EXPECT_EQ("<p>", root["e"][0].value);
    EXPECT_EQ("q", root["e"][1].value);
    EXPECT_EQ("a<b>c", root["f"].value);
    EXPECT_EQ("<?x?>", root["g"].value);
    TreeNode list;
    parseText("(<a>x, y</a>)", list);
    EXPECT_EQ("<a>x", list[0].value);
    EXPECT_EQ("y</a>", list[1].value);
    TreeNode top;
    parseText("<a> b </a>", top);
    EXPECT_EQ("<a>", top.value);
}

TEST(ParserForms, FileErrorsNameTheFileAndThePosition) {
    TempDir tmp;
    std::string path = tmp.path() + "/account.info";
    writeFile(path, "{\n  INBOX = {Messages = #3;};\n  Sent = {Messages = #1 x;};\n}\n");
    TreeNode root;
    EXPECT_EQ("expected ';' in " + path + " at line 3, byte 25",
              errorText<CGParseException>([&] { Parser::parse(path, root); }));
    // Comments are not read: the position points at them.
    writeFile(path, "{a = b; /* note */ c = d;}");
    EXPECT_EQ("expected '=' in " + path + " at line 1, byte 12",
              errorText<CGParseException>([&] { Parser::parse(path, root); }));
}
