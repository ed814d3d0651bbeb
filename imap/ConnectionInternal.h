#pragma once

#include "utils/TcpClientIOStream.h"
#include "utils/TlsSettings.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One IMAP connection: owns the network stream, hands out command tags,
// writes command text and reads response lines and literal data for the
// commands, reads the greeting, logs in and out. Several commands may be
// sent before the first is answered (CommandQueue matches the answers); the
// connection counts the answers still owed so that it never reopens under
// them. The same object can open any number of connections one after another.
class ConnectionInternal {
public:
    enum State { Disconnected = 0, Connected = 1, Authenticated = 2, Selected = 3 };

    ConnectionInternal();
    ~ConnectionInternal();
    ConnectionInternal(const ConnectionInternal&) = delete;
    ConnectionInternal& operator=(const ConnectionInternal&) = delete;

    // A user login (LOGIN, or AUTHENTICATE CRAM-MD5 when useCramMD5).
    void initialize(const std::string& host, unsigned port, const std::string& user,
                    const std::string& password, bool useCramMD5, unsigned timeoutSeconds,
                    bool useSsl);
    // A master login (X-MASTERAUTH); the user name is left as it was.
    void initialize(const std::string& host, unsigned port, const std::string& masterPassword,
                    unsigned timeoutSeconds, bool useSsl);

    // TLS connections check the server's certificate and name unless this is
    // set to false; it applies to the next stream opened.
    void setVerifyPeer(bool verify) { tlsSettings.verifyPeer = verify; }
    // An extra CA file (PEM) trusted besides the system store.
    void setTrustedCaFile(const std::string& path) { tlsSettings.caFile = path; }

    // Opens a new connection: stream, connect, greeting, and the login when
    // asked. Forgets the account of an earlier X-SETUSER. Throws the
    // ImapException family; the stream is closed on failure.
    void init(bool login);
    // close(), then a new connection with login; the account of the last
    // successful X-SETUSER is switched to again.
    void reconnect();
    void login();
    void masterAuthenticate();
    void authenticateCramMD5();
    // Sends LOGOUT (status and the server's BYE ignored) and sets the state
    // to Disconnected. A connection already closed (after a time-out, a BYE
    // or a broken stream) is left closed: nothing is sent.
    void logout();
    void close();

    State getState() const { return state; }
    // Applies a transition if allowed; other requests are ignored.
    void setState(State newState);
    // The read time-out of the current stream only; ignored without a stream.
    void setTimeout(unsigned seconds);
    bool streamGood();
    // Bytes the current stream has handed to the system; 0 without one.
    std::uint64_t bytesSent() const { return stream ? stream->bytesSent() : 0; }

    // Writes the text and, unless flush is false, flushes. At a command
    // boundary a broken connection is reopened once (login and the last
    // X-SETUSER account included) and the text is sent again; literal data
    // (atCommandBoundary false) is never resent. Unflushed text waits in the
    // stream until a flush, a read or a write that does not fit, and a
    // failure to send it shows only then. Throws ImapConnectionFailed
    // "Send failed" when it cannot write.
    bool send(const std::string& text, bool atCommandBoundary = true, bool flush = true);
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
        explicit AnswerDeadline(ConnectionInternal& connection);
        ~AnswerDeadline();
        AnswerDeadline(const AnswerDeadline&) = delete;
        AnswerDeadline& operator=(const AnswerDeadline&) = delete;
        // A full time-out again from now, for the next answer of an exchange.
        void restart();

    private:
        ConnectionInternal& connection;
    };

    std::string getTag();
    const std::string& getGreeting() const { return greeting; }
    // The server's capability words, asked once and cached.
    std::vector<std::string> getCapability();

    // Whether the greeting's CAPABILITY code announced LITERAL+ (RFC 2088):
    // only then may a command follow one whose answer has not arrived.
    // Servers that list their capabilities only on request count as without:
    // asking would add a command to the wire.
    bool hasLiteralPlus() const { return literalPlus; }

    // Kept by Command: a command sent whose tagged line has not been read yet.
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

    // Called by CommandXSetUser when the server accepted the switch.
    void rememberAccount(const std::string& account) { currentAccount = account; }

    // Reused by Command::execute to hold each data part of a streamed message.
    std::string partBuffer;

private:
    void openStream();
    void open(bool login);
    void applyRememberedAccount();
    void write(const std::string& text, bool flush);
    bool cutByTimeout();

    std::uint32_t tagCounter = 0;
    std::uint32_t timeoutSeconds = 0;
    State state = Disconnected;
    std::string greeting;
    std::vector<std::string> capabilities;
    std::unique_ptr<zenqa::utils::basic_tcpclientiostream> stream;
    bool useSsl = false;
    std::string host;
    std::string password;
    std::string user;
    bool masterAuth = true;
    bool useCramMD5 = false;
    std::uint32_t port = 0;
    zenqa::utils::TlsSettings tlsSettings;
    std::string currentAccount;
    bool opening = false;  // inside open(): a failed write is not recovered
    bool readTimedOut = false;
    bool literalPlus = false;
    bool sendingStopped = false;  // a literal was abandoned with answers still owed
    unsigned awaitingAnswers = 0;
    std::vector<char> chunk;
};
