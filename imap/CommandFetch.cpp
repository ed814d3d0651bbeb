#include "imap/CommandFetch.h"

#include "imap/FetchMessage.h"
#include "imap/Parser.h"

CommandFetch::CommandFetch(ConnectionInternal& connection, unsigned number,
                           FetchMessage& message)
    : Command(connection, "FETCH") {
    addParam(number);
    addParam("(INTERNALDATE FLAGS)");
    message.attach(connection);
}

bool CommandFetch::getDateAndFlags(FetchMessage& target) {
    std::string tagged;
    std::vector<std::string> untagged;
    getResponse(tagged, untagged);
    for (const auto& line : untagged) {
        ResponseResult response;
        Parser(line).parseResponse(response);
        if (response.getType() != ImapResponseType::Fetch) continue;
        std::string items;
        Parser(response.getString()).getNodeData(items);
        Parser reader(items);
        std::string key, value;
        reader.getNode(key);
        reader.getNode(value);
        if (!target.setData(key, value)) return false;
        reader.getNode(key);
        reader.getNode(value);
        return target.setData(key, value);
    }
    return false;
}
