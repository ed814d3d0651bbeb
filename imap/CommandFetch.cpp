#include "imap/CommandFetch.h"

#include "imap/FetchMessage.h"
#include "imap/Parser.h"

CommandFetch::CommandFetch(ImapTransport& transport, unsigned number,
                           FetchMessage& message)
    : Command(transport, "FETCH") {
    addParam(number);
    addParam("(INTERNALDATE FLAGS)");
    message.attach(transport);
}

bool CommandFetch::getDateAndFlags(FetchMessage& target) {
    bool taken = false;
    visitUntagged({ImapResponseType::Fetch}, [&](const ResponseResult& response) {
        std::string items;
        Parser(response.getString()).getNodeData(items);
        Parser reader(items);
        std::string key, value;
        reader.getNode(key);
        reader.getNode(value);
        if (target.setData(key, value)) {
            reader.getNode(key);
            reader.getNode(value);
            taken = target.setData(key, value);
        }
        return false;
    });
    return taken;
}
