#pragma once

#include <string>
#include <vector>

// IMAP argument texts.
namespace zenqa::mail {

// Each '"' becomes \" and each '\' becomes \\; other bytes are unchanged.
std::string escapeQuotationMarks(const std::string& value);
// A non-synchronizing literal: "{" length "+}" CR LF value.
std::string literalPlus(const std::string& value);

}  // namespace zenqa::mail

// Builds one IMAP command line (or a parenthesized argument list) argument
// by argument; every argument is preceded by one space unless the text is
// still empty. A string value (addParamString, addParamStringEx and the
// vector of strings) is checked here: one holding CR, LF or a byte above
// 0x7f goes out as a non-synchronizing literal even where a quoted string
// was asked for, and
// one holding NUL throws ImapUnsendableValueException before anything is
// added.
class Synthesizer {
public:
    static void addSpace(std::string& target);

    static void addParam(std::string& target, const std::string& value);
    void addParam(const std::string& value);
    void addParam(unsigned int number);

    // A quoted string, or a literal when the value holds CR, LF or 8-bit bytes.
    static void addParamString(std::string& target, const std::string& value);
    void addParamString(const std::string& value);

    // Always a non-synchronizing literal.
    static void addParamStringEx(std::string& target, const std::string& value);
    void addParamStringEx(const std::string& value);

    static void addParamVector(std::string& target, const std::string& value);
    void addParamVector(const std::string& value);
    static void addParamVector(std::string& target, const std::vector<std::string>& values);
    void addParamVector(const std::vector<std::string>& values);

    static void addParamVectorString(std::string& target, const std::vector<std::string>& values);
    void addParamVectorString(const std::vector<std::string>& values);

    void append(const std::string& text) { text_ += text; }
    void clear() { text_.clear(); }
    const std::string& get() const { return text_; }

private:
    std::string text_;
};
