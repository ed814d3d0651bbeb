#pragma once

#include <stdexcept>
#include <string>

// Failures inside the IMAP client. The facade turns them into result
// codes; the code is 3 for connection failures, 0 for parse and
// authentication failures, 9 for a message whose data failed mid-literal.
class ImapException : public std::runtime_error {
public:
    ImapException(const std::string& message, long errorCode)
        : std::runtime_error(message), code(errorCode) {}

    bool hasErrorCode() const { return code != 0; }
    long errorCode() const { return code; }
    long errorCode(long fallback) const { return code != 0 ? code : fallback; }

private:
    long code;
};

// The connection cannot send or receive.
class ImapConnectionFailed : public ImapException {
public:
    explicit ImapConnectionFailed(const std::string& message = "", long errorCode = 3)
        : ImapException(message, errorCode) {}
};

// A response text cannot be parsed.
class ImapParserException : public ImapException {
public:
    explicit ImapParserException(const std::string& message = "", long errorCode = 0)
        : ImapException(message, errorCode) {}
};

// Nothing arrived within the read time-out.
class ImapTimeoutException : public ImapException {
public:
    explicit ImapTimeoutException(const std::string& message = "", long errorCode = 3)
        : ImapException(message, errorCode) {}
};

// The server sent an untagged BYE.
class ImapServerBrokeConnection : public ImapException {
public:
    explicit ImapServerBrokeConnection(const std::string& message = "", long errorCode = 3)
        : ImapException(message, errorCode) {}
};

// A login or authentication was refused.
class AuthenticateFailedException : public ImapException {
public:
    explicit AuthenticateFailedException(const std::string& message)
        : ImapException(message, 0) {}
};

// A message's data parts could not be produced or written while its
// literal was streamed.
class IMessageLoadFailedException : public ImapException {
public:
    explicit IMessageLoadFailedException(const std::string& message, long errorCode = 9)
        : ImapException(message, errorCode) {}
};

// A value holds a byte that IMAP cannot carry in any form (NUL). Raised
// while a command is built, so nothing of it has been sent.
class ImapUnsendableValueException : public ImapException {
public:
    explicit ImapUnsendableValueException(const std::string& message, long errorCode = 0)
        : ImapException(message, errorCode) {}
};
