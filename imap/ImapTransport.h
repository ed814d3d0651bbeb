#pragma once

#include "utils/TcpClientIOStream.h"
#include "utils/TlsSettings.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The bytes of one IMAP connection: the network stream and its TLS settings,
// the command tags, command text and literal data out, response lines and
// literal data in, the deadline of an answer, and the number of answers still
// owed. Several commands may be sent before the first is answered
// (CommandQueue matches the answers); the transport never reopens under
// answers owed. What a connection means (greeting, logins, the account) is
// the business of the session above it, which the transport asks for a new
// connection when a whole command finds the old one broken. A transport is
// used by one thread at a time; transports share nothing with each other
// (buffers and TLS contexts are their own), so each thread may run its own.
class ImapTransport {
public:
    // What the transport asks of the session that owns it.
    class Session {
    public:
        // The connection broke where a whole command may go again: open a
        // new one, logged in and in the account of before. False when the
        // session cannot now (the command then fails); throws the
        // ImapException family when opening fails.
        virtual bool reopen() = 0;

    protected:
        ~Session() = default;
    };

    // Without a session a broken connection is never reopened.
    explicit ImapTransport(Session* session = nullptr);
    ImapTransport(const ImapTransport&) = delete;
    ImapTransport& operator=(const ImapTransport&) = delete;

    // TLS connections check the server's certificate and name unless this is
    // set to false; it applies to the next stream opened.
    void setVerifyPeer(bool verify) { tlsSettings.verifyPeer = verify; }
    // An extra CA file (PEM) trusted besides the system store.
    void setTrustedCaFile(const std::string& path) { tlsSettings.caFile = path; }

    // A new stream, connected (and with TLS, the handshake done), in place of
    // the last one; the read time-out applies to it. Throws
    // ImapConnectionFailed with an empty text when the host cannot be
    // resolved or reached; the stream is closed then.
    void connect(const std::string& host, unsigned port, bool useSsl, unsigned timeoutSeconds);
    // The first line of the connection without its line feed; false when it
    // was not whole within the receive time-out.
    bool recvGreeting(std::string& greeting);
    // Closes the stream if there is one. The answers owed stay owed until
    // their commands have read or dropped them: until then no new connection
    // may open in place of this one.
    void close();

    // Whether commands may use the connection: the session sets it once the
    // greeting came and clears it when it logs out; close() clears it too.
    bool isOpen() const { return open; }
    void setOpen(bool value) { open = value; }

    // The read time-out of the current stream only; ignored without a stream.
    void setTimeout(unsigned seconds);
    bool streamGood();
    // Bytes the current stream has handed to the system; 0 without one.
    std::uint64_t bytesSent() const { return stream ? stream->bytesSent() : 0; }

    // Writes the text and, unless flush is false, flushes. At a command
    // boundary a broken connection is reopened once by the session and the
    // text is sent again; literal data (atCommandBoundary false) is never
    // resent. Unflushed text waits in the stream until a flush, a read or a
    // write that does not fit, and a failure to send it shows only then.
    // Throws ImapConnectionFailed "Send failed" when it cannot write.
    bool send(const std::string& text, bool atCommandBoundary = true, bool flush = true);
    // For a command that found the connection broken before any byte of it
    // left: a new connection from the session. Throws ImapConnectionFailed
    // "Send failed" with answers owed or without a session that can.
    void reopen();
    // One line with its line end as received; empty when the line was not
    // whole in time. Throws ImapConnectionFailed "recvLine failed" on a
    // broken stream.
    bool recvLine(std::string& line);
    // Appends the next count bytes to out; returns fewer when the stream
    // ended or the time ran out.
    unsigned recvData(std::string& out, unsigned count);
    // Whether a read of the current connection ended because the receive
    // time-out ran out; cleared when a connection is opened.
    bool timedOut() const { return readTimedOut; }

    // While one lives, the reads of the connection together wait at most the
    // receive time-out: a server that trickles its answer or sends untagged
    // lines without end cannot hold a command longer than that.
    class AnswerDeadline {
    public:
        explicit AnswerDeadline(ImapTransport& transport);
        ~AnswerDeadline();
        AnswerDeadline(const AnswerDeadline&) = delete;
        AnswerDeadline& operator=(const AnswerDeadline&) = delete;
        // A full time-out again from now, for the next answer of an exchange.
        void restart();

    private:
        ImapTransport& transport;
    };

    // "T" and a counter that is never reset, so tags stay unique for the
    // life of the object, across connections.
    std::string getTag();

    // Kept by Command: a command sent whose tagged line has not been read yet
    // and which still waits for it. A broken connection does not settle it.
    void commandSent() { ++awaitingAnswers; }
    void commandAnswered() {
        if (awaitingAnswers > 0) --awaitingAnswers;
    }
    unsigned answersAwaited() const { return awaitingAnswers; }
    // A literal was announced and cannot be completed: the server would take
    // the next command for message data. Without answers owed the connection
    // is closed now; otherwise it stays open for reading them and refuses to
    // send (ImapConnectionFailed "Send failed") until it is closed.
    void abandonLiteral();

    // Reused by Command::execute to hold each data part of a streamed message.
    std::string partBuffer;

private:
    void write(const std::string& text, bool flush);
    bool cutByTimeout();

    Session* session;
    std::uint32_t tagCounter = 0;
    std::unique_ptr<zenqa::utils::basic_tcpclientiostream> stream;
    zenqa::utils::TlsSettings tlsSettings;
    bool open = false;
    bool readTimedOut = false;
    bool sendingStopped = false;  // a literal was abandoned with answers still owed
    unsigned awaitingAnswers = 0;
    std::vector<char> chunk;
};
