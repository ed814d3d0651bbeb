#include "imap/Synthesizer.h"

#include "imap/ImapException.h"

namespace zenqa::mail {

std::string escapeQuotationMarks(const std::string& value) {
    std::string result;
    result.reserve(value.size() + 8);
    for (char ch : value) {
        if (ch == '"' || ch == '\\') {
            result += '\\';
        }
        result += ch;
    }
    return result;
}

std::string literalPlus(const std::string& value) {
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "literal" + std::string temporaries.
    std::string result = "{";
    result += std::to_string(value.size());
    result += "+}\r\n";
    result += value;
    return result;
}

}  // namespace zenqa::mail

namespace {

enum class StringForm { Plain, Escaped, Literal };

// CR or LF would end the command line inside a quoted string, and what
// follows would run as a command of its own; a quoted string holds 7-bit
// characters only, and a strict server refuses 8-bit bytes there. Such a
// value travels as a literal, which carries any byte but NUL. No form
// carries NUL.
StringForm stringForm(const std::string& value) {
    StringForm form = StringForm::Plain;
    for (char ch : value) {
        if (static_cast<unsigned char>(ch) >= 0x80) {
            form = StringForm::Literal;
            continue;
        }
        switch (ch) {
        case '\0':
            throw ImapUnsendableValueException("a value holding a NUL byte cannot be sent");
        case '\r':
        case '\n':
            form = StringForm::Literal;
            break;
        case '"':
        case '\\':
            if (form == StringForm::Plain) form = StringForm::Escaped;
            break;
        default:
            break;
        }
    }
    return form;
}

}  // namespace

void Synthesizer::addSpace(std::string& target) {
    if (!target.empty()) {
        target += ' ';
    }
}

void Synthesizer::addParam(std::string& target, const std::string& value) {
    addSpace(target);
    target += value;
}

void Synthesizer::addParam(const std::string& value) { addParam(text_, value); }

void Synthesizer::addParam(unsigned int number) { addParam(text_, std::to_string(number)); }

void Synthesizer::addParamString(std::string& target, const std::string& value) {
    const StringForm form = stringForm(value);
    addSpace(target);
    if (form == StringForm::Literal) {
        target += zenqa::mail::literalPlus(value);
        return;
    }
    target += '"';
    if (form == StringForm::Plain) {
        target += value;
    } else {
        target += zenqa::mail::escapeQuotationMarks(value);
    }
    target += '"';
}

void Synthesizer::addParamString(const std::string& value) { addParamString(text_, value); }

void Synthesizer::addParamStringEx(std::string& target, const std::string& value) {
    stringForm(value);
    addSpace(target);
    target += zenqa::mail::literalPlus(value);
}

void Synthesizer::addParamStringEx(const std::string& value) { addParamStringEx(text_, value); }

void Synthesizer::addParamVector(std::string& target, const std::string& value) {
    addSpace(target);
    target += '(';
    target += value;
    target += ')';
}

void Synthesizer::addParamVector(const std::string& value) { addParamVector(text_, value); }

void Synthesizer::addParamVector(std::string& target, const std::vector<std::string>& values) {
    std::string joined;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0) {
            joined += ' ';
        }
        joined += values[i];
    }
    addParamVector(target, joined);
}

void Synthesizer::addParamVector(const std::vector<std::string>& values) {
    addParamVector(text_, values);
}

void Synthesizer::addParamVectorString(std::string& target,
                                       const std::vector<std::string>& values) {
    std::string joined;
    for (const std::string& value : values) {
        addParamString(joined, value);
    }
    addParamVector(target, joined);
}

void Synthesizer::addParamVectorString(const std::vector<std::string>& values) {
    addParamVectorString(text_, values);
}
