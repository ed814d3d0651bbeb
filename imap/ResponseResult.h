#pragma once

#include <cstdint>
#include <string>

// One parsed server response (see Parser::parseResponse).
class ResponseResult {
public:
    ResponseResult() = default;
    void clear() { *this = ResponseResult(); }

    bool isTagged() const { return tagged; }
    int getType() const { return type; }
    const std::string& getTag() const { return tag; }
    // The human-readable or remaining text.
    const std::string& getString() const { return string; }
    // The bracketed response code, brackets included.
    const std::string& getCode() const { return code; }
    // Message number of a numeric untagged response, or a numeric code's value.
    std::int32_t getNumber() const { return number; }
    // The flag list of PERMANENTFLAGS, parentheses included.
    const std::string& getData() const { return data; }

private:
    friend class Parser;

    bool tagged = false;
    int type = 0;
    std::string tag;
    std::string string;
    std::string code;
    std::int32_t number = 0;
    std::string data;
};
