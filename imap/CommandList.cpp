#include "imap/CommandList.h"

#include "imap/CaseInsensitive.h"
#include "imap/Parser.h"

CommandList::CommandList(ConnectionInternal& connection, const std::string& reference,
                         const std::string& pattern)
    : Command(connection, "LIST") {
    addParamString(reference);
    addParamString(pattern);
}

int CommandList::getList(std::vector<FolderInfo>& out, bool checkNoSelect) {
    out.clear();
    std::string tagged;
    std::vector<std::string> untagged;
    getResponse(tagged, untagged);
    for (const auto& line : untagged) {
        ResponseResult response;
        Parser(line).parseResponse(response);
        if (response.getType() != ImapResponseType::List &&
            response.getType() != ImapResponseType::Lsub)
            continue;
        const std::string& text = response.getString();
        Parser reader(text);
        std::string attributes, delimiter, name;
        reader.getNode(attributes);
        reader.getNode(delimiter);
        reader.getNode(name);
        bool selectable = !checkNoSelect || !containsNoCase(attributes, "\\NoSelect");
        out.push_back({name, selectable});
    }
    return static_cast<int>(out.size());
}
