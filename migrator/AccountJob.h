#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <ostream>
#include <string>
#include <vector>

#include "imap/SimpleImapClient.h"
#include "imap/TargetMessage.h"
#include "migrator/AccountOutput.h"
#include "migrator/FolderKeys.h"
#include "migrator/JobSettings.h"
#include "migrator/RunReport.h"
#include "store/StoreProblem.h"
#include "utils/IMessage.h"

namespace tarmig {

class Folder;
class Mailbox;
struct SharedRun;

// Replaces, in place, every character the target refuses in folder names.
void replaceForbiddenChars(std::string& text, char replacement);

// One account's migration on a connection of its own: provisions the
// account, creates its folders and appends its messages. It owns its client,
// its counts, its report line and its output; what it shares with the other
// jobs of the run (password report, log, console, report file, totals, stop
// flag) is in the SharedRun.
class AccountJob {
public:
    // held: the account's lines are kept and written whole when it ends, as
    // for accounts that run side by side.
    AccountJob(const JobSettings& settings, SharedRun& run, bool held);
    AccountJob(const AccountJob&) = delete;
    AccountJob& operator=(const AccountJob&) = delete;

    // The job's log stream: the store reader's lines for this account go here.
    std::ostream& log() { return output.log(); }

    // Writes the account line, transfers the account and writes its report
    // line. A failure of the account or of its store data is reported and
    // counted here; CGNetworkException (the target cannot be used) leaves
    // the account failed and reported, and ends the run.
    void run(Mailbox& mailbox);
    // Reports an account handed to the job but not begun before the run stopped.
    void abandon(Mailbox& mailbox);
    // Whether the target's last failure was an answer not whole within the time-out.
    bool targetTimedOut() const { return client.timedOut(); }

    // Opens the master session; every failure ends the run (CGNetworkException).
    void connect(bool logoutAfterwards);
    // Creates the account and switches the session to it; false when it
    // already exists and -force is not given. An account the server neither
    // creates nor knows, or whose values cannot be sent, fails
    // (CGStoreException).
    bool setUser(Mailbox& mailbox);
    static std::string generatePassword(int length);
    // Selects or creates each level of the folder's path on the target. A
    // name that cannot be sent, a refused CREATE, or a path at or below one
    // refused earlier in the account fails the folder (CGStoreException).
    void createFolder(Folder& folder);
    // The folder's name on the target; a name that cannot be sent, or one at
    // or below a path refused earlier in the account, fails the folder
    // (CGStoreException).
    std::string targetName(Folder& folder);
    // Selects or creates each level of the target path.
    void createLevels(const std::string& target, ImapFolderType type);
    void appendMessage(Folder& folder, IMessage& message, bool useXAppend);

private:
    // An append sent whose answer has not been read: the message's position
    // in its folder (from 1) and its size as sent.
    struct AppendInFlight {
        int position = 0;
        std::int64_t size = 0;
    };
    // Unwinds a job whose run is stopping, at a message or folder boundary.
    struct Stopped {};

    void writeAccountLine(Mailbox& mailbox);
    // The account's report line covers what happens between these two.
    void beginAccount(const std::string& domain, const std::string& account);
    void endAccount(AccountReport::Status status, const std::string& lastError = "");
    void transferAccount(Mailbox& mailbox);
    // The account's folders; what the store could not list is reported, and a
    // list that cannot be read at all fails the account (CGStoreException).
    std::vector<Folder> readFolderList(Mailbox& mailbox);
    void stopIfRunStops();
    void reportStopped(const Mailbox& mailbox);
    void transferFolder(Mailbox& mailbox, Folder& folder, bool useXAppend);
    // Returns how many messages the folder's storage held. With toSend, only
    // the messages the store hands out at its true positions (from 0) are
    // sent; those beyond it came after the reconciliation and are sent too.
    int transferMessages(Mailbox& mailbox, Folder& folder, int count, bool useXAppend,
                         const std::vector<bool>* toSend = nullptr);
    // Selects the folder on the target and reads the store while the server
    // answers, matches the folder's messages against the target's, brings
    // the target's flags to the store's and reports what
    // is already there; returns which store messages must be sent. `keys`
    // is the store's read, kept for a folder with nothing to send.
    std::vector<bool> reconcileWithTarget(Mailbox& mailbox, Folder& folder, const std::string& target,
                                          bool hasStorage, FolderKeys& keys);
    // Reads the target's keys of a folder after client.startSelectKeys; a
    // folder the target cannot open is created (as createAs) and opened
    // again. A folder that cannot be opened or read fails (CGStoreException),
    // a lost session ends the run.
    std::vector<TargetMessage> finishTargetKeys(const std::string& target, ImapFolderType createAs);
    // Compares each folder with the target and reports the account's result.
    void verifyAccount(Mailbox& mailbox, std::vector<Folder>& folders);
    // Adds the folder's store messages to `messages`; false when it differs.
    bool verifyFolder(Mailbox& mailbox, Folder& folder, long long& messages);
    // -verify without -migrate: switches to the account and compares it.
    void verifyExistingAccount(Mailbox& mailbox);
    // Sends the message ahead of the answers still awaited and reports every
    // answer that must be read to make room for the next one.
    void sendMessage(const std::string& target, IMessage& message, int position, bool useXAppend);
    // Reads and reports the answers of all appends in flight, oldest first.
    void collectAppends();
    void collectOldestAppend();
    // Counts and reports one message's append result as appendMessage's
    // table says; a failure skips the message, a broken session ends the run.
    void settleAppend(const AppendInFlight& append, SimpleImapClient::ImapClientResult result);
    // Maps an append result to the engine's lines and exceptions.
    void checkAppendResult(SimpleImapClient::ImapClientResult result);
    // Ends the console line and reports a folder or message that is skipped.
    void reportSkipped(const std::string& errorLine);
    // Reports and counts what the store could not hand out; returns how
    // many messages were lost.
    int reportProblems(const std::vector<StoreProblem>& problems);
    void switchUser(const std::string& username, const std::string& domain);
    // A fresh master session acting as the account being transferred.
    void reconnectAsCurrentUser();
    // Creates the password report file now; a report that cannot be written
    // ends the run, since an account made now would keep a password nobody knows.
    void openPasswordReport();
    void recordPassword(const std::string& line);

    const JobSettings& settings;
    SharedRun& shared;
    AccountOutput output;
    SimpleImapClient client;
    std::string currentUser;
    std::string currentDomain;
    bool accountFailed = false;   // the account reported a failure
    bool identityLost = false;    // a reconnect could not switch back to the account
    bool accountCreated = false;  // setUser created it: it holds nothing of the store yet
    std::vector<std::string> refusedFolders;  // target paths the server would not create
    std::deque<AppendInFlight> appendsInFlight;  // oldest first, as in the client's queue
    ReportCounts counts;
    // The account's report line, open between beginAccount and endAccount.
    bool accountOpen = false;
    AccountReport report;
    std::chrono::steady_clock::time_point accountStartTime;
};

}  // namespace tarmig
