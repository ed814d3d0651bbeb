#include "imap/CommandStatus.h"

#include "imap/CaseInsensitive.h"
#include "imap/Parser.h"

CommandStatus::CommandStatus(ConnectionInternal& connection, const std::string& name)
    : Command(connection, "STATUS") {
    addParamString(name);
    addParam("(MESSAGES)");
}

int CommandStatus::getMessagesCount() {
    std::string tagged;
    std::vector<std::string> untagged;
    getResponse(tagged, untagged);
    for (const auto& line : untagged) {
        ResponseResult response;
        Parser(line).parseResponse(response);
        if (response.getType() == ImapResponseType::Status)
            return parseStatusMessages(response.getString());
    }
    return 0;
}

int parseStatusMessages(std::string statusText) {
    Parser reader(statusText);
    std::string mailbox, attributes;
    reader.getNode(mailbox);
    reader.getNodeData(attributes);
    Parser pairs(attributes);
    std::string key, value;
    pairs.getNode(key);
    pairs.getNode(value);
    if (!equalsNoCase(key, "MESSAGES") || value.empty() || value[0] < '0' || value[0] > '9')
        return 0;
    return zenqa::mail::imap::toNumber(value);
}
