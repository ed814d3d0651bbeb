#include "imap/CommandList.h"

#include "imap/CaseInsensitive.h"
#include "imap/Parser.h"

CommandList::CommandList(ImapTransport& transport, const std::string& reference,
                         const std::string& pattern)
    : Command(transport, "LIST") {
    addParamString(reference);
    addParamString(pattern);
}

int CommandList::getList(std::vector<FolderInfo>& out, bool checkNoSelect) {
    out.clear();
    visitUntagged({ImapResponseType::List, ImapResponseType::Lsub},
                  [&](const ResponseResult& response) {
                      Parser reader(response.getString());
                      std::string attributes, delimiter, name;
                      reader.getNode(attributes);
                      reader.getNode(delimiter);
                      reader.getNode(name);
                      bool selectable =
                          !checkNoSelect || !containsNoCase(attributes, "\\NoSelect");
                      out.push_back({name, selectable});
                      return true;
                  });
    return static_cast<int>(out.size());
}
