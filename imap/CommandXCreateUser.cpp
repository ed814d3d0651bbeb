#include "imap/CommandXCreateUser.h"

CommandXCreateUser::CommandXCreateUser(ImapTransport& transport, const std::string& name,
                                       const std::string& domain, const std::string& password,
                                       const std::string& fullName,
                                       const std::vector<std::string>& groups)
    : Command(transport, "X-CREATEUSER") {
    Synthesizer attributes;
    attributes.addParam("NAME");
    attributes.addParamStringEx(name);
    attributes.addParam("DOMAIN");
    attributes.addParamStringEx(domain);
    attributes.addParam("PASSWORD");
    attributes.addParamString(password);
    if (!fullName.empty()) {
        attributes.addParam("FULLNAME");
        attributes.addParamString(fullName);
    }
    if (!groups.empty()) {
        attributes.addParam("GROUPS");
        attributes.addParamVectorString(groups);
    }
    addParamVector(attributes.get());
}
