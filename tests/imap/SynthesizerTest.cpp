#include "imap/Synthesizer.h"

#include "imap/ImapException.h"

#include <gtest/gtest.h>

namespace {

TEST(SynthesizerTest, SeparatesArgumentsWithOneSpace) {
    std::string target;
    Synthesizer::addSpace(target);
    EXPECT_EQ(target, "");
    target = "(";
    Synthesizer::addSpace(target);
    EXPECT_EQ(target, "( ");

    Synthesizer line;
    line.addParam("T5");
    line.addParam("SELECT");
    line.addParamString("Sent");
    EXPECT_EQ(line.get(), "T5 SELECT \"Sent\"");
    line.append("\r\n");
    EXPECT_EQ(line.get(), "T5 SELECT \"Sent\"\r\n");
    line.clear();
    EXPECT_EQ(line.get(), "");
}

TEST(SynthesizerTest, NumbersAreBareDecimalDigits) {
    Synthesizer line;
    line.addParam(0u);
    line.addParam(4294967295u);
    EXPECT_EQ(line.get(), "0 4294967295");
}

TEST(SynthesizerTest, QuotedStringsEscapeOnlyQuoteAndBackslash) {
    Synthesizer line;
    line.addParamString("x\"y");
    EXPECT_EQ(line.get(), "\"x\\\"y\"");

    Synthesizer backslash;
    backslash.addParamString("a\\b");
    EXPECT_EQ(backslash.get(), "\"a\\\\b\"");

    // Control characters other than CR and LF are 7-bit text: they stay quoted.
    Synthesizer raw;
    raw.addParamString("a\x7f\x01\t{3}");
    EXPECT_EQ(raw.get(), "\"a\x7f\x01\t{3}\"");

    Synthesizer empty;
    empty.addParam("X");
    empty.addParamString("");
    EXPECT_EQ(empty.get(), "X \"\"");

    EXPECT_EQ(zenqa::mail::escapeQuotationMarks("\"\\plain\\\""), "\\\"\\\\plain\\\\\\\"");
}

// A line break inside quotes would end the command there and let the rest
// of the value run as a command of its own.
TEST(SynthesizerTest, LineBreaksTravelAsLiteralsWhereverAStringGoes) {
    Synthesizer line;
    line.addParam("T1");
    line.addParamString("a\r\nT2 X-SETUSER \"x@y\"");
    line.addParamString("\n");
    line.addParamString("b\rc\\");
    EXPECT_EQ(line.get(),
              "T1 {21+}\r\na\r\nT2 X-SETUSER \"x@y\" {1+}\r\n\n {4+}\r\nb\rc\\");

    std::string target = "(";
    Synthesizer::addParamString(target, "\xe9\r\n");
    EXPECT_EQ(target, "( {3+}\r\n\xe9\r\n");

    Synthesizer list;
    list.addParamVectorString({"a", "b\nc", "d"});
    EXPECT_EQ(list.get(), "(\"a\" {3+}\r\nb\nc \"d\")");
}

// A quoted string holds 7-bit characters only; a strict server answers BAD
// to a byte above 0x7f between quotes. The literal carries the bytes as they
// are, quotes and backslashes unescaped.
TEST(SynthesizerTest, EightBitBytesTravelAsLiteralsWhereverAStringGoes) {
    Synthesizer line;
    line.addParam("T1");
    line.addParamString("Zo\xc3\xab \xc3\x86r\xc3\xb8");
    line.addParamString("\x80");
    line.addParamString("\"p\\\xff\"");
    EXPECT_EQ(line.get(), "T1 {10+}\r\nZo\xc3\xab \xc3\x86r\xc3\xb8 {1+}\r\n\x80 {5+}\r\n\"p\\\xff\"");

    std::string target = "PASSWORD";
    Synthesizer::addParamString(target, "pw\xe9");
    EXPECT_EQ(target, "PASSWORD {3+}\r\npw\xe9");

    Synthesizer list;
    list.addParamVectorString({"a", "\xc3\xa9", "\x7f"});
    EXPECT_EQ(list.get(), "(\"a\" {2+}\r\n\xc3\xa9 \"\x7f\")");

    // NUL after an 8-bit byte is still refused.
    Synthesizer nul;
    EXPECT_THROW(nul.addParamString(std::string("\xe9\0", 2)), ImapUnsendableValueException);
    EXPECT_EQ(nul.get(), "");
}

TEST(SynthesizerTest, NulIsNeverPutOnTheWire) {
    const std::string nul("a\0b", 3);
    Synthesizer line;
    line.addParam("T1");
    EXPECT_THROW(line.addParamString(nul), ImapUnsendableValueException);
    EXPECT_THROW(line.addParamString(std::string("\r\n\0", 3)), ImapUnsendableValueException);
    EXPECT_THROW(line.addParamStringEx(nul), ImapUnsendableValueException);
    EXPECT_THROW(line.addParamVectorString({"ok", nul}), ImapUnsendableValueException);
    EXPECT_EQ(line.get(), "T1");
    std::string target = "x";
    EXPECT_THROW(Synthesizer::addParamString(target, nul), ImapUnsendableValueException);
    EXPECT_EQ(target, "x");
}

TEST(SynthesizerTest, LiteralPlusCountsBytes) {
    EXPECT_EQ(zenqa::mail::literalPlus("abc"), "{3+}\r\nabc");
    EXPECT_EQ(zenqa::mail::literalPlus(""), "{0+}\r\n");
    EXPECT_EQ(zenqa::mail::literalPlus("\xc3\xa9t\xc3\xa9"), "{5+}\r\n\xc3\xa9t\xc3\xa9");

    Synthesizer line;
    line.addParam("NAME");
    line.addParamStringEx("a b\"c");
    EXPECT_EQ(line.get(), "NAME {5+}\r\na b\"c");
}

TEST(SynthesizerTest, Lists) {
    Synthesizer flags;
    flags.addParam("T1");
    flags.addParamVector("\\Seen ");
    EXPECT_EQ(flags.get(), "T1 (\\Seen )");

    Synthesizer words;
    words.addParamVector(std::vector<std::string>{"A", "B", "C"});
    words.addParamVector(std::vector<std::string>{});
    words.addParamVector(std::vector<std::string>{"", "x"});
    EXPECT_EQ(words.get(), "(A B C) () ( x)");

    Synthesizer strings;
    strings.addParamVectorString({"a", "b"});
    strings.addParamVectorString({});
    strings.addParamVectorString({"q\"", ""});
    EXPECT_EQ(strings.get(), "(\"a\" \"b\") () (\"q\\\"\" \"\")");

    std::string target = "GROUPS";
    Synthesizer::addParamVectorString(target, {"g1"});
    EXPECT_EQ(target, "GROUPS (\"g1\")");
}

TEST(SynthesizerTest, PreparedListBecomesOneArgument) {
    Synthesizer list;
    list.addParam("W1");
    list.addParamStringEx("ann");
    list.addParam("W2");
    list.addParamString("pw");

    Synthesizer line;
    line.addParam("T0");
    line.addParam("CMD");
    line.addParamVector(list.get());
    EXPECT_EQ(line.get(), "T0 CMD (W1 {3+}\r\nann W2 \"pw\")");
}

}  // namespace
