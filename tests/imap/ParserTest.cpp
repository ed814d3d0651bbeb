#include "imap/ImapException.h"
#include "imap/Parser.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace zenqa::mail::imap;

ResponseResult parse(const std::string& text) {
    ResponseResult result;
    Parser(text).parseResponse(result);
    return result;
}

// Parses the response and reads every token of its text, as the command
// classes do.
std::string parserError(const std::string& text) {
    try {
        const ResponseResult result = parse(text);
        Parser tokens(result.getString());
        std::string node;
        while (tokens.getNode(node)) {
        }
    } catch (const ImapParserException& error) {
        EXPECT_EQ(error.errorCode(), 0);
        return std::string("threw:") + error.what();
    }
    return "parsed";
}

TEST(ParserTest, TaggedCompletionWithCode) {
    const ResponseResult result = parse("T7 OK [READ-WRITE] SELECT completed");
    EXPECT_TRUE(result.isTagged());
    EXPECT_EQ(result.getTag(), "T7");
    EXPECT_EQ(result.getType(), 100);
    EXPECT_EQ(result.getCode(), "[READ-WRITE]");
    EXPECT_EQ(result.getString(), "SELECT completed");
}

TEST(ParserTest, TaggedStatusWords) {
    EXPECT_EQ(parse("T1 NO no such folder").getType(), 101);
    EXPECT_EQ(parse("T1 NO no such folder").getString(), "no such folder");
    EXPECT_EQ(parse("T1 BAD").getType(), 102);
    EXPECT_EQ(parse("T1 BAD").getString(), "");
    EXPECT_EQ(parse("T1 PREAUTH hi").getType(), 103);
    EXPECT_EQ(parse("T1 BYE").getType(), 104);
    // Not a status word: no type, no exception. Codes of tagged lines are not looked up.
    EXPECT_EQ(parse("T1 WHAT is this").getType(), 0);
    EXPECT_EQ(parse("T1 OK [UIDNEXT 5] done").getNumber(), 0);
    EXPECT_EQ(parse("T1 ok lower case").getType(), 0);

    const ResponseResult continuation = parse("+ Ready");
    EXPECT_TRUE(continuation.isTagged());
    EXPECT_EQ(continuation.getTag(), "+");
    EXPECT_EQ(continuation.getType(), 0);
    EXPECT_EQ(continuation.getString(), "");
}

TEST(ParserTest, UntaggedResponses) {
    const ResponseResult exists = parse("* 23 EXISTS");
    EXPECT_FALSE(exists.isTagged());
    EXPECT_EQ(exists.getNumber(), 23);
    EXPECT_EQ(exists.getType(), 211);
    EXPECT_EQ(exists.getString(), "");

    const ResponseResult capability = parse("* CAPABILITY IMAP4rev1 LITERAL+");
    EXPECT_EQ(capability.getType(), 200);
    EXPECT_EQ(capability.getString(), "IMAP4rev1 LITERAL+");

    const ResponseResult uidValidity = parse("* OK [UIDVALIDITY 1234] UIDs valid");
    EXPECT_EQ(uidValidity.getType(), 1008);
    EXPECT_EQ(uidValidity.getNumber(), 1234);
    EXPECT_EQ(uidValidity.getCode(), "[UIDVALIDITY 1234]");
    EXPECT_EQ(uidValidity.getString(), "UIDs valid");

    const ResponseResult plain = parse("* OK server ready");
    EXPECT_EQ(plain.getType(), 0);
    EXPECT_EQ(plain.getString(), "server ready");

    const ResponseResult flags = parse("* OK [PERMANENTFLAGS (\\Seen \\Deleted \\*)] Limited");
    EXPECT_EQ(flags.getType(), 1004);
    EXPECT_EQ(flags.getData(), "(\\Seen \\Deleted \\*)");

    EXPECT_EQ(parse("* OK [UIDVALIDITY 4000000000] x").getNumber(), 2147483647);
    EXPECT_EQ(parse("* OK [UNSEEN 12] x").getType(), 1010);
    EXPECT_EQ(parse("* OK [UNSEEN 12] x").getNumber(), 12);
    EXPECT_EQ(parse("* OK [REFERRAL imap://x/] go").getType(), 1013);
    EXPECT_EQ(parse("* OK [XYZZY 3] x").getType(), 0);
    EXPECT_EQ(parse("* OK [UIDNEXT] x").getNumber(), 0);

    EXPECT_EQ(parse("* LIST (\\Noselect) \"/\" \"a b\"").getType(), 201);
    EXPECT_EQ(parse("* LIST (\\Noselect) \"/\" \"a b\"").getString(), "(\\Noselect) \"/\" \"a b\"");
    EXPECT_EQ(parse("* X-USERINFO a").getType(), 606);
    EXPECT_EQ(parse("* 4000000000 EXPUNGE").getNumber(), 2147483647);
    EXPECT_EQ(parse("* 4000000000 EXPUNGE").getType(), 301);

    const ResponseResult fetch = parse("* 7 FETCH (BODY[] {5}\r\nh)(\"l)");
    EXPECT_EQ(fetch.getType(), 302);
    EXPECT_EQ(fetch.getNumber(), 7);
    EXPECT_EQ(fetch.getString(), "(BODY[] {5}\r\nh)(\"l)");
}

TEST(ParserTest, UntaggedResponsesThatAreRefused) {
    EXPECT_EQ(parserError("* 5 FOO"), "threw:");
    EXPECT_EQ(parserError("* OK"), "threw:");
    EXPECT_EQ(parserError("* BYE"), "threw:");
    EXPECT_EQ(parserError("* NO such thing"), "threw:");
    EXPECT_EQ(parserError("*"), "threw:");
    EXPECT_EQ(parserError(""), "threw:");
    EXPECT_EQ(parserError("T1"), "threw:");
}

TEST(ParserTest, StringTokens) {
    std::string out;
    Position it = 0;
    const std::string escaped = "\"a\\\"b\"";
    ASSERT_TRUE(readString(escaped, it, out));
    EXPECT_EQ(out, "a\\");
    ASSERT_TRUE(readString(escaped, it, out));
    EXPECT_EQ(out, "b\"");
    EXPECT_FALSE(readString(escaped, it, out));

    const std::string nile = "NILE x";
    it = 0;
    ASSERT_TRUE(readString(nile, it, out));
    EXPECT_EQ(out, "");
    ASSERT_TRUE(readString(nile, it, out));
    EXPECT_EQ(out, "E");

    const std::string literal = "{5}\r\nhe lo rest";
    it = 0;
    ASSERT_TRUE(readString(literal, it, out));
    EXPECT_EQ(out, "he lo");
    EXPECT_EQ(literal.substr(it), " rest");

    const std::string plus = "{2+}\r\nab";
    it = 0;
    ASSERT_TRUE(readString(plus, it, out));
    EXPECT_EQ(out, "ab");

    const std::string lfOnly = "{5}\nhello";
    it = 0;
    try {
        readString(lfOnly, it, out);
        FAIL() << "no exception";
    } catch (const ImapParserException& error) {
        EXPECT_STREQ(error.what(), "Character different");
    }
    const std::string cut = "{5}";
    it = 0;
    try {
        readString(cut, it, out);
        FAIL() << "no exception";
    } catch (const ImapParserException& error) {
        EXPECT_STREQ(error.what(), "Bad ");
    }
}

TEST(ParserTest, GroupsSkipQuotedStringsAndLiterals) {
    const std::string text = "(\"a)b\" x) ( a (b d) ) [x {3}\r\n]]] y] tail";
    Parser parser(text);
    std::string node;
    ASSERT_TRUE(parser.getNode(node));
    EXPECT_EQ(node, "(\"a)b\" x)");
    ASSERT_TRUE(parser.getNodeData(node));
    EXPECT_EQ(node, " a (b d) ");
    ASSERT_TRUE(parser.getNode(node));
    EXPECT_EQ(node, "[x {3}\r\n]]] y]");
    ASSERT_TRUE(parser.getRest(node));
    EXPECT_EQ(node, "tail");
    EXPECT_FALSE(parser.getNode(node));
    EXPECT_FALSE(parser.getRest(node));
    EXPECT_EQ(node, "");

    const std::string trailingSpaces = "a   ";
    Parser spaces(trailingSpaces);
    ASSERT_TRUE(spaces.getNode(node));
    EXPECT_FALSE(spaces.getNode(node));
    EXPECT_EQ(node, "");

    const std::string quoted = "\"(x)\"";
    Parser quotedParens(quoted);
    ASSERT_TRUE(quotedParens.getNodeData(node));
    EXPECT_EQ(node, "(x)");

    std::string out = "old";
    Position it = 0;
    ASSERT_TRUE(readParenthesis("NIL rest", it, '(', ')', out));
    EXPECT_EQ(out, "");
    EXPECT_EQ(it, 3u);
}

TEST(ParserTest, PositionHelpers) {
    Position it = 0;
    EXPECT_TRUE(skipSpace("   x", it));
    EXPECT_EQ(it, 3u);
    it = 0;
    EXPECT_FALSE(skipSpace("   ", it));
    it = 0;
    try {
        skipSpaceEx("  ", it);
        FAIL() << "no exception";
    } catch (const ImapParserException& error) {
        EXPECT_STREQ(error.what(), "Space not presented");
    }

    it = 1;
    EXPECT_TRUE(testWord("xOKAY", it, "OK"));
    EXPECT_EQ(it, 3u);
    EXPECT_FALSE(testWord("xOKAY", it, "OK"));
    EXPECT_EQ(it, 3u);
    it = 4;
    EXPECT_FALSE(testWord("xOKAY", it, "YY"));

    EXPECT_EQ(findCharacter("abcabc", 1, 'a'), 3u);
    EXPECT_EQ(findCharacter("abc", 0, 'z'), 3u);
    EXPECT_EQ(findCharacter("abc", 9, 'a'), 3u);
    EXPECT_THROW(findCharacterEx("abc", 0, 'z'), ImapParserException);

    EXPECT_EQ(testCharacter("ab", 1, 'b'), 2u);
    EXPECT_THROW(testCharacter("ab", 0, 'b'), ImapParserException);
    EXPECT_THROW(testCharacter("ab", 2, 'b'), ImapParserException);

    std::string out;
    it = 1;
    readNCharacters("abcd", it, 3, out);
    EXPECT_EQ(out, "bcd");
    EXPECT_EQ(it, 1u);
    EXPECT_THROW(readNCharacters("abcd", it, 4, out), ImapParserException);
    EXPECT_THROW(readNCharacters("abcd", it, -1, out), ImapParserException);

    std::string text = "(x)";
    trim(text);
    EXPECT_EQ(text, "x");
    text = "x";
    trim(text);
    EXPECT_EQ(text, "x");

    EXPECT_EQ(toNumber("12abc"), 12);
    EXPECT_EQ(toNumber("abc"), 0);
    EXPECT_EQ(toNumber("99999999999999999999999"), 2147483647);
    EXPECT_EQ(toNumber("-99999999999"), -2147483647 - 1);
}

TEST(ParserTest, MalformedResponsesThrowParserExceptions) {
    const std::string malformed[] = {
        "* LIST () \"/\" \"unterminated",
        "* OK [ALERT \"unterminated]",
        "* OK [ALERT unbalanced",
        "* LIST ((\\Noselect) \"/\" x",
        "T1 OK (a (b) c",
        "* OK [X {-1}\r\n] y",
        "* OK [X {99999999999999999999}\r\n] y",
        "* OK [X {4000000000}\r\nabc] y",
        "* OK [X {10}\r\nabc] y",
        "* OK [X {3}] y",
        "* OK [X {3}\r",
        "* OK [X {3",
        "T1 OK {5}\r\nabc",
        std::string("* 1 F\0ETCH", 10),
        "* " + std::string(1 << 20, 'a'),
        "* OK " + std::string(200000, '['),
        "* OK " + std::string(200000, '(') + std::string(199999, ')'),
    };
    for (const std::string& text : malformed) {
        EXPECT_NE(parserError(text), "parsed") << text.substr(0, 40);
    }
    // Binary bytes are ordinary bytes of a token.
    const ResponseResult binary = parse(std::string("T\xff\x01 OK \x80\0x", 10));
    EXPECT_EQ(binary.getTag(), "T\xff\x01");
    EXPECT_EQ(binary.getString(), std::string("\x80\0x", 3));
}

// Builds well-formed responses with known fields, then damages them; every
// text must either parse or raise ImapParserException, and token reading
// must always move forward.
class ResponseGenerator {
public:
    explicit ResponseGenerator(unsigned seed) : random(seed) {}

    struct Sample {
        std::string text;
        bool tagged;
        int type;
        std::int32_t number;
    };

    Sample next() {
        switch (pick(4)) {
        case 0: {
            const int status = pick(3);
            static const char* words[] = {"OK", "NO", "BAD"};
            return {"T" + std::to_string(pick(100000)) + " " + words[status] + " " + tokens(),
                    true, 100 + status, 0};
        }
        case 1: {
            const std::int32_t number = pick(1000000);
            static const std::pair<const char*, int> keywords[] = {
                {"EXISTS", 211}, {"RECENT", 212}, {"EXPUNGE", 301}, {"FETCH", 302}};
            const auto& keyword = keywords[pick(4)];
            return {"* " + std::to_string(number) + " " + keyword.first + " " + tokens(), false,
                    keyword.second, number};
        }
        case 2: {
            static const std::pair<const char*, int> keywords[] = {
                {"LIST", 201}, {"STATUS", 203}, {"CAPABILITY", 200}, {"FLAGS", 210}};
            const auto& keyword = keywords[pick(4)];
            return {std::string("* ") + keyword.first + " " + tokens(), false, keyword.second, 0};
        }
        default: {
            const std::int32_t number = pick(1000000);
            return {"* OK [UIDNEXT " + std::to_string(number) + "] " + tokens(), false, 1009,
                    number};
        }
        }
    }

    std::string damage(std::string text) {
        switch (pick(4)) {
        case 0:
            text.resize(pick(static_cast<int>(text.size())));
            break;
        case 1:
            text[pick(static_cast<int>(text.size()))] = static_cast<char>(pick(256));
            break;
        case 2:
            text.insert(pick(static_cast<int>(text.size())), 1, "\"{}()[] \r\n"[pick(10)]);
            break;
        default:
            text.erase(pick(static_cast<int>(text.size())), 1 + pick(4));
            break;
        }
        return text;
    }

private:
    int pick(int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random); }

    std::string atom() {
        std::string word;
        const int length = 1 + pick(8);
        for (int i = 0; i < length; ++i) {
            word += "abcXYZ019\\.-"[pick(12)];
        }
        return word == "NIL" ? "NIX" : word;
    }

    std::string token(int depth) {
        switch (pick(depth > 2 ? 4 : 6)) {
        case 0:
        case 1:
            return atom();
        case 2:
            return "\"" + atom() + " )]" + "\"";
        case 3: {
            std::string data = atom() + "\r\n)\"";
            return "{" + std::to_string(data.size()) + "}\r\n" + data;
        }
        case 4:
            return "(" + token(depth + 1) + " " + token(depth + 1) + ")";
        default:
            return "[" + token(depth + 1) + "]";
        }
    }

    std::string tokens() {
        std::string text = atom();
        const int count = pick(5);
        for (int i = 0; i < count; ++i) {
            text += " " + token(0);
        }
        return text;
    }

    std::mt19937 random;
};

TEST(ParserTest, GeneratedResponses) {
    ResponseGenerator generator(20261208);
    for (int i = 0; i < 100000; ++i) {
        const ResponseGenerator::Sample sample = generator.next();
        ResponseResult result;
        ASSERT_NO_THROW(Parser(sample.text).parseResponse(result)) << sample.text;
        ASSERT_EQ(result.isTagged(), sample.tagged) << sample.text;
        ASSERT_EQ(result.getType(), sample.type) << sample.text;
        ASSERT_EQ(result.getNumber(), sample.number) << sample.text;

        const std::string damaged = generator.damage(sample.text);
        try {
            Parser(damaged).parseResponse(result);
        } catch (const ImapParserException&) {
        }
        Parser tokens(damaged);
        std::string node;
        std::size_t steps = 0;
        try {
            while (tokens.getNode(node)) {
                ASSERT_LE(++steps, damaged.size()) << damaged;
            }
        } catch (const ImapParserException&) {
        }
    }
}

}  // namespace
