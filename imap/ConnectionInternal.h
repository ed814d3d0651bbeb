#pragma once

#include "imap/Command.h"
#include "imap/ImapTransport.h"

#include <cstdint>
#include <string>
#include <vector>

class CommandXSetUser;

// One IMAP session to the target server over its own transport: reads the
// greeting, logs in by one of three methods, remembers the account of the
// last X-SETUSER, reopens a broken connection for a command that may go again
// (login and account included), and logs out. The same object can open any
// number of connections one after another; the commands run on transport().
class ConnectionInternal : private ImapTransport::Session {
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

    ImapTransport& transport() { return imapTransport; }
    const ImapTransport& transport() const { return imapTransport; }

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
    // Runs the X-SETUSER command; when the server accepts the switch the
    // account is remembered, so a reconnect switches to it again.
    Command::Response setUser(CommandXSetUser& command);
    // Sends LOGOUT (status and the server's BYE ignored) and sets the state
    // to Disconnected. A connection already closed (after a time-out, a BYE
    // or a broken stream) is left closed: nothing is sent.
    void logout();
    void close();

    // Disconnected whenever the transport was closed underneath.
    State getState() const { return imapTransport.isOpen() ? state : Disconnected; }
    // Applies a transition if allowed; other requests are ignored.
    void setState(State newState);

    const std::string& getGreeting() const { return greeting; }
    // The server's capability words, asked once and cached.
    std::vector<std::string> getCapability();

    // Whether the greeting's CAPABILITY code announced LITERAL+ (RFC 2088):
    // only then may a command follow one whose answer has not arrived.
    // Servers that list their capabilities only on request count as without:
    // asking would add a command to the wire.
    bool hasLiteralPlus() const { return literalPlus; }

private:
    bool reopen() override;
    void open(bool login);
    void enter(State newState);
    void applyRememberedAccount();

    std::uint32_t timeoutSeconds = 0;
    State state = Disconnected;
    std::string greeting;
    std::vector<std::string> capabilities;
    bool useSsl = false;
    std::string host;
    std::string password;
    std::string user;
    bool masterAuth = true;
    bool useCramMD5 = false;
    std::uint32_t port = 0;
    std::string currentAccount;
    bool opening = false;  // inside open(): a failed write is not recovered
    bool literalPlus = false;
    ImapTransport imapTransport{this};
};
