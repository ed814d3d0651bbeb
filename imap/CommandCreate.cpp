#include "imap/CommandCreate.h"

#include "imap/ListExtension.h"

CommandCreate::CommandCreate(ConnectionInternal& connection, const std::string& name,
                             unsigned bits, const std::string& guid)
    : Command(connection, "CREATE") {
    std::string guidText = guid.empty() ? "" : "GUID \"" + guid + "\"";
    std::string word = convertListExtension(bits);
    if (!word.empty())
        addParam("(" + word + (guidText.empty() ? "" : " " + guidText) + ")");
    else if (!guidText.empty())
        addParam("(" + guidText + ")");
    addParamString(name);
}
