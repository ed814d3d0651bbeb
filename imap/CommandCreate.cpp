#include "imap/CommandCreate.h"

#include "imap/ListExtension.h"

CommandCreate::CommandCreate(ImapTransport& transport, const std::string& name,
                             unsigned bits, const std::string& guid)
    : Command(transport, "CREATE") {
    Synthesizer options;
    const std::string word = convertListExtension(bits);
    if (!word.empty()) options.addParam(word);
    if (!guid.empty()) {
        options.addParam("GUID");
        options.addParamString(guid);
    }
    if (!options.get().empty()) addParamVector(options.get());
    addParamString(name);
}
