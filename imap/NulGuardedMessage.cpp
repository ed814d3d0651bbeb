#include "imap/NulGuardedMessage.h"

#include <stdexcept>

bool NulGuardedMessage::getFirstDataPart(std::string& part) {
    return checked(message_.getFirstDataPart(part), part);
}

bool NulGuardedMessage::getNextDataPart(std::string& part) {
    return checked(message_.getNextDataPart(part), part);
}

bool NulGuardedMessage::checked(bool more, const std::string& part) {
    if (more && part.find('\0') != std::string::npos) {
        throw std::runtime_error("the message holds a NUL byte, which IMAP cannot carry");
    }
    return more;
}
