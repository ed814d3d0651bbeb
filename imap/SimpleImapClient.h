#pragma once

#include "imap/CommandQueue.h"
#include "imap/ConnectionInternal.h"
#include "utils/FolderType.h"
#include "utils/KMutex.h"

#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

class FetchMessage;
class IMessage;
class ImapException;
struct TargetMessage;

// The one interface of the IMAP client: every operation runs one or a few
// commands on the owned connection and reports a result code; no IMAP
// client exception leaves it. One object belongs to one thread at a time
// (abort() excepted); objects on different threads share no state.
class SimpleImapClient {
public:
    using FolderType = ImapFolderType;
    using enum ImapFolderType;

    enum ImapClientResult {
        Ok = 0,
        NotConnected = 1,
        AlreadyConnected = 2,
        ConnectionError = 3,
        AuthenticationFailed = 4,
        CreateUserFailed = 5,
        SetUserFailed = 6,
        CreateFolderFailed = 7,
        AppendFailed = 8,
        MessageLoadFailed = 9,
        SelectFailed = 10,
        ListFailed = 11,
        StatusFailed = 12,
        FetchFailed = 13,
        StoreFailed = 14,
    };

    // The read time-out applies to every line the server owes us.
    explicit SimpleImapClient(unsigned timeoutSeconds = 180);
    SimpleImapClient(const SimpleImapClient&) = delete;
    SimpleImapClient& operator=(const SimpleImapClient&) = delete;

    // TLS from the first byte, with or without checking the server's
    // certificate; applies from the next connect (and server probe) on.
    void setTls(bool useTls, bool verifyPeer);

    // Connects and logs in: the master authentication after the master form
    // of connect, otherwise LOGIN or AUTHENTICATE CRAM-MD5.
    ImapClientResult init(const std::string& host, unsigned port, const std::string& user,
                          const std::string& password, bool useCramMD5);
    ImapClientResult connect(const std::string& host, unsigned port, const std::string& user,
                             const std::string& password, bool useCramMD5);
    ImapClientResult connect(const std::string& host, unsigned port,
                             const std::string& masterPassword, unsigned unused);
    void disconnect(bool sendLogout);

    // Whether X-CHECKVERSION reports version 6.3 or newer.
    bool isXAppendSupported();

    // The server's text after the status word of the last completed
    // createUser, setUser or createFolder (why it refused, for the log), or
    // why the last append could not be sent.
    const std::string& lastResponseText() const { return responseText; }

    ImapClientResult createUser(const std::string& name, const std::string& domain,
                                const std::string& password, const std::string& fullName);
    ImapClientResult setUser(const std::string& user, const std::string& domain);
    // Folder names are given and listed as UTF-8 and go on the wire in
    // modified UTF-7. A name that is not UTF-8 is refused without a command:
    // CreateFolderFailed (with the reason in lastResponseText), SelectFailed,
    // StatusFailed or AppendFailed.
    ImapClientResult createFolder(const std::string& name, FolderType type);
    ImapClientResult select(const std::string& name);
    // The selectable folders, in reply order.
    ImapClientResult list(std::vector<std::string>& names);
    ImapClientResult status(const std::string& name, unsigned& count);
    // Sends one append and waits for its answer; no other append may be in flight.
    ImapClientResult append(const std::string& mailbox, IMessage* message, bool useXAppend);

    // Appends in flight: up to `window` appends may await their answers at
    // once, when the server announced LITERAL+, while their data stays under
    // maxAppendBytesInFlight. 1 waits for each answer before the next append.
    void setAppendWindow(unsigned window) { appendWindow = window < 1 ? 1 : window; }
    static constexpr std::uint64_t maxAppendBytesInFlight = 8 * 1024 * 1024;
    // Message data holding NUL is not sent: no IMAP literal carries it, so
    // such an append ends MessageLoadFailed before the part with NUL goes out.
    // Sends one append whole (the message's data is streamed, not kept) and
    // leaves its answer unread: Ok when it went out, otherwise what append
    // would return. After MessageLoadFailed with appends in flight the
    // connection sends nothing more but still reads their answers. A
    // connection found broken with appends in flight is not reopened: the
    // append ends ConnectionError and so does each of theirs, at once.
    ImapClientResult sendAppend(const std::string& mailbox, IMessage* message, bool useXAppend);
    // Whether the oldest answer must be collected before the next sendAppend.
    bool appendWindowFull() const;
    std::size_t appendsInFlight() const { return appends.size(); }
    // The result of the oldest append in flight, waiting for its answer: Ok,
    // AppendFailed, or ConnectionError (and the like) when the connection
    // failed; the appends after it are then answered ConnectionError too.
    ImapClientResult collectAppend();

    // Date, flags and the announced body of one message of the selected
    // folder; after Ok the caller reads the body through the message's data
    // parts before the next command.
    ImapClientResult fetch(unsigned number, FetchMessage& message);
    // Copies every message of this connection's selected folder into
    // `mailbox` of the connected `target`, streaming each body through.
    // With showProgress the percentage of `total` is written to `progress`
    // under `outputLock` (either may be null); a total of 0 shows none.
    ImapClientResult copyFolder(const std::string& mailbox, SimpleImapClient& target,
                                unsigned& copied, unsigned& failed, std::ostream* progress,
                                zenqa::tiny::KMutex* outputLock, bool showProgress,
                                unsigned total);

    // Opens a separate connection without logging in; true with its greeting
    // line when the server answers with a greeting that is not BYE.
    bool testImapServer(const std::string& host, unsigned port, std::string& greeting);

    // Asks a running copyFolder (possibly on another thread) to stop after
    // the current message. Stays set for the life of the object.
    void abort();
    bool wasAborted();

    // Whether the connection's last failure was an answer that did not
    // arrive whole within the read time-out (cleared by the next connect).
    bool timedOut() const { return connection.transport().timedOut(); }

    // Ok when a tagged line's status word is OK, FetchFailed otherwise.
    static ImapClientResult parseTaggedResponse(const std::string& line);
    static ImapClientResult handleImapException(ImapException& e, ImapClientResult fallback);

    // Opens `folder` read-only (EXAMINE) and reads what identifies each of
    // its messages (UID FETCH 1:* of UID, FLAGS, INTERNALDATE, RFC822.SIZE
    // and the Message-ID header), in UID order. Both commands go out
    // together when the server announced LITERAL+, otherwise back to back.
    // SelectFailed when the folder cannot be opened; FetchFailed when the
    // answers are refused, unreadable, or fewer than the folder's EXISTS
    // count. No append may be in flight.
    ImapClientResult examineKeys(const std::string& folder, std::vector<TargetMessage>& messages);
    // The same with SELECT, so that storeFlags can follow.
    ImapClientResult selectKeys(const std::string& folder, std::vector<TargetMessage>& messages);
    // The two halves of examineKeys and selectKeys, so that the caller works
    // while the server answers: a start sends what can go out before an
    // answer is read (the open, and with LITERAL+ the fetch too) and leaves
    // the answers owed; finishKeys reads them (and sends the fetch when it
    // waited) and returns what the whole would, also a failure met by the
    // start. Nothing else may be sent in between. A finish without a start
    // is FetchFailed; a start never finished is forgotten by the next start,
    // or by disconnect (its finish is then NotConnected).
    void startExamineKeys(const std::string& folder);
    void startSelectKeys(const std::string& folder);
    ImapClientResult finishKeys(std::vector<TargetMessage>& messages);
    // UID STORE <uid> FLAGS (<flags>) in the selected folder: Ok, or
    // StoreFailed when refused or when a flag is not IMAP flag text (then
    // nothing is sent).
    ImapClientResult storeFlags(std::uint32_t uid, const std::vector<std::string>& flags);

private:
    void startKeys(bool readOnly, const std::string& folder);
    void forgetAppends();
    void writeProgress(std::ostream& out, zenqa::tiny::KMutex* outputLock,
                       const std::string& text);

    bool connected = false;
    ConnectionInternal connection;
    bool masterMode = false;
    zenqa::tiny::KMutex abortLock;
    bool aborted = false;
    unsigned timeoutSeconds;
    bool useTls = false;
    bool verifyPeer = true;
    std::string responseText;
    unsigned appendWindow = 1;
    CommandQueue appends{connection.transport()};
    std::deque<std::uint64_t> appendSizes;  // literal sizes, as queued in appends
    std::uint64_t appendBytes = 0;
    CommandQueue keysOwed{connection.transport()};  // the open, then the fetch when sent with it
    ImapClientResult keysStarted = FetchFailed;     // what the last start met; FetchFailed once finished
};
