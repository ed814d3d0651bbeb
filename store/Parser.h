#pragma once

#include <string>
#include <utility>

#include "store/TreeNode.h"
#include "utils/KStream.h"

namespace tarmig {

// Reads one value of the CommuniGate dictionary text format into a tree.
// Scalars keep the text as read; nothing is converted or decoded. Adjacent
// quoted strings and adjacent data blocks are joined; addresses (#I[...]),
// the null object (#NULL#), typed arrays (#(...)) and XML values (<...>) keep
// their whole source text. The first error raises CGParseException with a
// short message and the line and byte where it was found.
class Parser {
public:
    // Dictionaries and arrays nested deeper than this are refused, so hostile
    // input cannot exhaust the stack.
    static constexpr int MaxDepth = 256;

    virtual ~Parser() = default;

    static void parse(const std::string& path, TreeNode& root);
    static void parse(zenqa::utils::KStream* stream, TreeNode& root);

private:
    Parser(zenqa::utils::KStream* stream, std::string where) : stream(stream), where(std::move(where)) {}

    // Every byte goes through these two, which keep the position for errors
    // and the text of a value whose source is kept whole.
    int get();
    void unget(int c);
    int peek();
    [[noreturn]] void fail(const std::string& message) const;

    bool skipWhiteChars();
    void skipWhiteCharsOrFail();
    // `followers` are the bytes that may come after the value (none at the
    // top level, where nothing after the value is read). Only where today's
    // reading would fail on the next byte does a value continue past it.
    void getObject(TreeNode& node, const char* followers);
    std::string getString(const char* followers);
    std::string getSSymbol();
    std::string getSSymbols(const char* followers);
    // Bytes while `keep` holds for them; the first other byte is pushed back.
    std::string collect(bool (*keep)(int));
    std::string getAtom();
    std::string getXml(const char* followers);
    std::string getNumber();
    std::string getTimeStamp();
    std::string getAddress();
    std::string getNull();
    std::string getTypedArray();
    std::string getDataBlock();
    std::string getDataBlocks(const char* followers);
    // Skips white space and tells whether `opening` comes next, for joining.
    bool continuesWith(int opening, const char* followers);
    void getDictionary(TreeNode& node);
    void getArray(TreeNode& node);
    void expect(char byte);

    static bool isWhiteChar(int c) { return c >= 0x00 && c <= 0x20; }
    static bool isDigit(int c) { return c >= '0' && c <= '9'; }
    static bool isASymbol(int c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c);
    }
    static bool isBSymbol(int c) { return isASymbol(c) || c == '+' || c == '/' || c == '='; }

    zenqa::utils::KStream* stream;
    std::string where;  // " in <path>" for files, so errors name them
    int depth = 0;
    long line = 1;
    long offset = 0;  // bytes consumed
    long lineStart = 0;
    long previousLineStart = 0;
    long errorLine = 1;
    long errorByte = 1;  // within errorLine, from 1
    bool recording = false;
    std::string recorded;
};

}  // namespace tarmig
