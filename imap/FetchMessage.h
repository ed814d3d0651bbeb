#pragma once

#include "utils/IMessage.h"

#include <cstdint>
#include <string>

class ImapTransport;

// A message read back from an IMAP server: date and flags from a FETCH
// reply, data streamed from the FETCH literal still waiting on the
// connection, so a copy never holds the whole message in memory.
class FetchMessage : public IMessage {
public:
    FetchMessage() = default;

    bool getFirstDataPart(std::string& part) override;
    // The next piece of the literal, at most 10240 bytes. Throws
    // ImapConnectionFailed when the connection ends inside the literal, so
    // a short copy is never passed off as the whole message.
    bool getNextDataPart(std::string& part) override;
    std::string getFlags() override { return flags; }
    std::string getDate() override { return date; }
    std::int64_t getSize() override { return static_cast<std::int64_t>(size); }
    // Data from an IMAP server already has CR LF line ends: nothing is repaired.
    std::int64_t getFixedSize() override { return getSize(); }

    // A literal announcement "{n}" plus the line end; false for a size of 0,
    // and false with nothing changed for another shape.
    bool setSize(const std::string& text);
    // A parenthesised flag list; only the standard flags that a client may
    // set are kept (not \Recent), so the message can be appended elsewhere.
    bool setFlags(const std::string& text);
    // One FETCH data item: INTERNALDATE or FLAGS.
    bool setData(const std::string& key, const std::string& value);
    // The first line of a body FETCH reply: "* <n> FETCH (BODY[] {size}".
    bool parseResponse(const std::string& line);

    // Forgets date, flags and size before the next message is loaded.
    void reset();
    void attach(ImapTransport& source) { transport = &source; }

private:
    std::string date;
    std::string flags;
    std::uint64_t size = 0;
    std::uint64_t remaining = 0;
    ImapTransport* transport = nullptr;
};

// The standard flags found in a flag text (any letter case), in the order
// \Seen \Answered \Flagged \Deleted \Draft \Recent, separated by one space;
// keywords and private flags are dropped.
std::string removeNonStandartFlags(const std::string& text);

// One reply line of a folder copy's FETCH: "* <n> FETCH (... BODY[] {size}".
// Fills date, flags and size; false for another shape.
bool loadFetchResponse(const std::string& line, FetchMessage& message);
// The data items after the opening parenthesis, up to the body literal.
bool loadFetchResponseInsideInfo(const std::string& text, FetchMessage& message);
