#include "imap/Synthesizer.h"

#include <cstring>

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
    addSpace(target);
    target += '"';
    // Two memchr scans: find_first_of would search the set once per character.
    if (std::memchr(value.data(), '"', value.size()) == nullptr &&
        std::memchr(value.data(), '\\', value.size()) == nullptr) {
        target += value;
    } else {
        target += zenqa::mail::escapeQuotationMarks(value);
    }
    target += '"';
}

void Synthesizer::addParamString(const std::string& value) { addParamString(text_, value); }

void Synthesizer::addParamStringEx(std::string& target, const std::string& value) {
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
