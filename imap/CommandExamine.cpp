#include "imap/CommandExamine.h"

#include "imap/ImapException.h"
#include "imap/Parser.h"

#include <vector>

CommandExamine::CommandExamine(ImapTransport& transport, const std::string& name)
    : Command(transport, "EXAMINE") {
    addParamString(name);
}

std::optional<std::uint32_t> lastExists(const Command& command) {
    std::string tagged;
    std::vector<std::string> untagged;
    command.getResponse(tagged, untagged);
    std::optional<std::uint32_t> count;
    for (const std::string& text : untagged) {
        ResponseResult response;
        try {
            Parser(text).parseResponse(response);
        } catch (const ImapParserException&) {
            continue;  // a response this client does not know says nothing about the count
        }
        if (response.getType() == ImapResponseType::Exists && response.getNumber() >= 0)
            count = static_cast<std::uint32_t>(response.getNumber());
    }
    return count;
}
