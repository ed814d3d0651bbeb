#pragma once

#include "imap/ResponseResult.h"
#include "imap/Synthesizer.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

class ImapTransport;
class IMessage;

// One IMAP command: builds its line, sends it (with a message streamed as
// a non-synchronizing literal when given), and collects the responses up
// to its tagged completion. Made for one exchange: build, execute once
// (or start, then finish it or hand it to a CommandQueue), read the responses.
class Command {
public:
    enum Response { OK = 0, NO = 1, BAD = 2 };

    // Takes the next tag from the connection; the text starts "<tag> <name>".
    Command(ImapTransport& transport, const std::string& name);
    // A command given up before its tagged line no longer waits for it.
    ~Command();
    Command(const Command&) = delete;
    Command& operator=(const Command&) = delete;

    void addParam(const std::string& value) { commandText.addParam(value); }
    void addParam(unsigned int number) { commandText.addParam(number); }
    void addParamString(const std::string& value) { commandText.addParamString(value); }
    void addParamStringEx(const std::string& value) { commandText.addParamStringEx(value); }
    void addParamVector(const std::string& value) { commandText.addParamVector(value); }
    void addParamVector(const std::vector<std::string>& values) { commandText.addParamVector(values); }
    void addParamVectorString(const std::vector<std::string>& values) {
        commandText.addParamVectorString(values);
    }

    const std::string& getCommandString() const { return commandText.get(); }
    const std::string& getTag() const { return tag; }
    const std::string& getName() const { return name; }
    void completeCommandString();

    // Sends the command and reads until its tagged line, which must be whole
    // within the connection's receive time-out from the first read on. With
    // a message the text must already end with the literal announcement
    // "{size+}\r\n".
    // NO and BAD are results, not exceptions; a status word other than OK,
    // NO or BAD counts as BAD. Throws the ImapException family: a server BYE,
    // a time-out, a broken connection, or (code 9) a message whose data could
    // not be produced or written, after which the connection is closed (or,
    // with answers still owed for earlier commands, only reads them; see
    // ImapTransport::abandonLiteral).
    Response execute(IMessage* message);
    // The two halves of execute: start sends and leaves the answer unread
    // (the connection counts it as owed); finish reads until the tagged line.
    void start(IMessage* message);
    Response finish();
    // Whether the tagged line has been read, and its status then.
    bool isCompleted() const { return completed; }
    Response getStatus() const { return status; }

    // The tagged line and the untagged responses of the last execute, each
    // without its final line end; an untagged response holds any literal
    // data it announced, followed by the rest of its text.
    void getResponse(std::string& tagged, std::vector<std::string>& untagged) const;

    // False when the line (ending in CR LF) announces a literal; literalLength
    // is then its byte count.
    static bool isWholeResponse(const std::string& line, unsigned int& literalLength);
    // True when the response carries this command's tag; result is its status.
    bool isTaggedResponse(const std::string& response, Response& result) const;
    // Removes one line end (LF, or CR LF) at the very end.
    static void removeEOL(std::string& text);
    // One response line: a line starting "* BYE" (when byeEnds) closes the
    // connection and throws ImapServerBrokeConnection; nothing within the
    // time-out closes the connection and throws ImapTimeoutException.
    static void recvResponseLine(ImapTransport& transport, std::string& line,
                                 bool byeEnds = true);
    // One whole response: a line with every literal it announces and the
    // lines that follow them. A literal cut short closes the connection and
    // throws ImapTimeoutException or ImapConnectionFailed.
    static void recvResponse(ImapTransport& transport, std::string& response);
    // Stores one whole response (line end removed) as the tagged line, with
    // its status, or as the next untagged response; true for the tagged line.
    // The response text is moved out.
    bool fileResponse(std::string& response);

protected:
    ImapTransport& getTransport() { return transport; }

    // Parses the untagged responses of the last execute in arrival order and
    // hands each one whose type is listed to visit, until visit returns false.
    // A response that cannot be parsed throws ImapParserException.
    void visitUntagged(std::initializer_list<int> types,
                       const std::function<bool(const ResponseResult&)>& visit) const;

    // A challenge-response login: sends the command line, hands the "+"
    // continuation to respond and sends its answer plus CR LF, then reads to
    // the tagged line. A reply other than a continuation, or respond
    // returning false, ends the exchange as NO with nothing more sent.
    Response executeChallenge(
        const std::function<bool(const std::string& continuation, std::string& answer)>& respond);

private:
    void sendWithMessage(IMessage& message);
    // Streams the data and the final line end after the waiting command line.
    // False when the connection broke before it took any byte past
    // commandStart (what the stream had sent when the line was queued).
    bool sendMessage(IMessage& message, std::uint64_t commandStart);
    std::string readChallengeResponse(bool afterAnswer);

    Synthesizer commandText;
    std::string tag;
    std::string name;
    ImapTransport& transport;
    std::vector<std::string> untaggedResponses;
    std::string taggedResponse;
    bool completed = false;
    Response status = BAD;
    bool answerOwed = false;  // counted by the transport, from start to the tagged line
};
