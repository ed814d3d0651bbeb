#pragma once

#include "imap/ResponseResult.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Token readers over one response text. Positions are byte indexes into the
// text; every failure is an ImapParserException with code 0.
namespace zenqa::mail::imap {

using Position = std::string::size_type;

// Skips spaces; true when a non-space character follows.
bool skipSpace(const std::string& text, Position& it);
// As skipSpace, but the end of the text throws "Space not presented".
bool skipSpaceEx(const std::string& text, Position& it);
// True (and moves past it) when the text at it begins with word.
bool testWord(const std::string& text, Position& it, const std::string& word);
// Position of the first ch at or after it, or the text's size.
Position findCharacter(const std::string& text, Position it, char ch);
// As findCharacter; none throws "Character not found".
Position findCharacterEx(const std::string& text, Position it, char ch);
// Position after ch; another character throws "Character different", the end "Bad ".
Position testCharacter(const std::string& text, Position it, char ch);
// out = the n characters at it; fewer left throws. it does not move.
void readNCharacters(const std::string& text, Position& it, std::int64_t n, std::string& out);
// One quoted string, literal, NIL (empty) or atom; false at the end.
bool readString(const std::string& text, Position& it, std::string& out);
bool skipString(const std::string& text, Position& it);
// One group from open to its matching close, both included; NIL gives empty.
bool readParenthesis(const std::string& text, Position& it, char open, char close,
                     std::string& out);
// Removes the first and last character of a text of 2 or more characters.
void trim(std::string& text);
// strtol-style decimal value clamped to 32 bits; 0 without leading digits.
std::int32_t toNumber(const std::string& text);

}  // namespace zenqa::mail::imap

// Response type numbers.
namespace ImapResponseType {
constexpr int Ok = 100, No = 101, Bad = 102, Preauth = 103, Bye = 104;
constexpr int Capability = 200, List = 201, Lsub = 202, Status = 203, Search = 204,
              Sort = 205, Group = 206, ASort = 208, AGroup = 209, Flags = 210;
constexpr int Exists = 211, Recent = 212, AExpunge = 300, Expunge = 301, Fetch = 302,
              AFetch = 303;
constexpr int Annotation = 500, XWatch = 600, Acl = 601, ListRights = 602, MyRights = 603,
              XListMap = 604, XGetScript = 605, XUserInfo = 606;
constexpr int Alert = 1001, NewName = 1002, Parse = 1003, PermanentFlags = 1004,
              ReadOnly = 1005, ReadWrite = 1006, TryCreate = 1007, UidValidity = 1008,
              UidNext = 1009, Unseen = 1010, InternalDate = 1012, Referral = 1013;
}  // namespace ImapResponseType

// Reads one IMAP response text (a line with any literals it announced,
// without the final line end). The text must outlive the parser.
class Parser {
public:
    explicit Parser(const std::string& text) : text(text) {}
    Parser(std::string&&) = delete;  // a temporary text would not outlive the parser

    // Throws ImapParserException on malformed input.
    void parseResponse(ResponseResult& result);

    // Next token: a group with its brackets, or a string token; false when
    // only spaces remain.
    bool getNode(std::string& out);
    // As getNode, without the outermost brackets of a group.
    bool getNodeData(std::string& out);
    // The rest of the text after the spaces at the position.
    bool getRest(std::string& out);

private:
    void parseTagged(ResponseResult& result);
    void parseUntagged(ResponseResult& result);
    static void parseResponseOption(ResponseResult& result);

    const std::string& text;
    zenqa::mail::imap::Position position = 0;
};
