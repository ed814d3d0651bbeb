#pragma once

#include <string>

#include "store/TreeNode.h"
#include "utils/KStream.h"

namespace tarmig {

// Reads one value of the CommuniGate dictionary text format into a tree.
// Scalars keep the text as read; nothing is converted or decoded. The first
// error raises CGParseException with a short message.
class Parser {
public:
    // Dictionaries and arrays nested deeper than this are refused, so hostile
    // input cannot exhaust the stack.
    static constexpr int MaxDepth = 256;

    virtual ~Parser() = default;

    static void parse(const std::string& path, TreeNode& root);
    static void parse(zenqa::utils::KStream* stream, TreeNode& root);

private:
    explicit Parser(zenqa::utils::KStream* stream) : stream(stream) {}

    bool skipWhiteChars();
    void skipWhiteCharsOrFail();
    void getObject(TreeNode& node);
    std::string getString();
    std::string getSSymbol();
    std::string getAtom();
    std::string getNumber();
    std::string getTimeStamp();
    std::string getDataBlock();
    void getDictionary(TreeNode& node);
    void getArray(TreeNode& node);
    void expect(char byte);
    int peek();

    static bool isWhiteChar(int c) { return c >= 0x00 && c <= 0x20; }
    static bool isDigit(int c) { return c >= '0' && c <= '9'; }
    static bool isASymbol(int c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || isDigit(c);
    }
    static bool isBSymbol(int c) { return isASymbol(c) || c == '+' || c == '/' || c == '='; }

    zenqa::utils::KStream* stream;
    int depth = 0;
};

}  // namespace tarmig
