#pragma once

#include "utils/IMessage.h"

#include <cstdint>
#include <string>

// Passes a message's data through to APPEND, but stops at a part that holds
// NUL: an IMAP literal cannot carry one (RFC 3501 CHAR8), and a server that
// takes it anyway changes the message (Dovecot stores 0x80 instead). The
// data-part calls then throw std::runtime_error, which fails the append
// before that part is sent, so the message never arrives altered.
class NulGuardedMessage : public IMessage {
public:
    explicit NulGuardedMessage(IMessage& message) : message_(message) {}

    bool getFirstDataPart(std::string& part) override;
    bool getNextDataPart(std::string& part) override;
    std::string getFlags() override { return message_.getFlags(); }
    std::string getDate() override { return message_.getDate(); }
    std::int64_t getSize() override { return message_.getSize(); }
    std::int64_t getFixedSize() override { return message_.getFixedSize(); }

private:
    static bool checked(bool more, const std::string& part);

    IMessage& message_;
};
