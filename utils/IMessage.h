#pragma once

#include <cstdint>
#include <string>

// A message the IMAP client can append: the store's messages and messages
// fetched from another server both stream their data through it.
class IMessage {
public:
    virtual ~IMessage() = default;

    // Restart at the first byte; false when the message has no data.
    virtual bool getFirstDataPart(std::string& part) = 0;
    // The next piece of data; false at the end.
    virtual bool getNextDataPart(std::string& part) = 0;
    // IMAP flag list text, each flag followed by one space ("\Seen "); may be empty.
    virtual std::string getFlags() = 0;
    // IMAP date-time text ("20-Feb-2004 12:34:56 +0000"), or empty.
    virtual std::string getDate() = 0;
    // Bytes as stored. Sizes are 64-bit: stores hold files beyond 2 GiB.
    virtual std::int64_t getSize() = 0;
    // Bytes the data-part operations deliver: the length announced in APPEND.
    virtual std::int64_t getFixedSize() = 0;
};
