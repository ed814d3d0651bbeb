#include "imap/CommandStatus.h"

#include "imap/CaseInsensitive.h"
#include "imap/Parser.h"

CommandStatus::CommandStatus(ImapTransport& transport, const std::string& name)
    : Command(transport, "STATUS") {
    addParamString(name);
    addParam("(MESSAGES)");
}

int CommandStatus::getMessagesCount() {
    int count = 0;
    visitUntagged({ImapResponseType::Status}, [&count](const ResponseResult& response) {
        count = parseStatusMessages(response.getString());
        return false;
    });
    return count;
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
