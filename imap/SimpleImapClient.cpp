#include "imap/SimpleImapClient.h"

#include "imap/CommandAppend.h"
#include "imap/CommandCreate.h"
#include "imap/CommandExamine.h"
#include "imap/CommandList.h"
#include "imap/CommandSelect.h"
#include "imap/CommandStatus.h"
#include "imap/CommandUidFetchKeys.h"
#include "imap/CommandUidStore.h"
#include "imap/CommandXCreateUser.h"
#include "imap/CommandXSetUser.h"
#include "imap/ImapException.h"
#include "imap/ListExtension.h"
#include "imap/NulGuardedMessage.h"
#include "utils/IMessage.h"
#include "utils/ModifiedUtf7.h"

#include <algorithm>
#include <memory>
#include <optional>

namespace {

// The store names folders in UTF-8; IMAP names them in modified UTF-7
// (RFC 3501 5.1.3), and a real server refuses raw 8-bit names. A name that
// is already modified UTF-7 standing for more than ASCII (a store written
// through IMAP may hold "Entw&APw-rfe") goes as it is: encoding it again
// would rename the folder.
std::optional<std::string> wireName(const std::string& name) {
    // NUL has no form on the wire at all, encoded or not: the command itself
    // refuses the name before sending anything.
    if (name.find('\0') != std::string::npos) return name;
    if (const auto decoded = zenqa::mail::modifiedUtf7ToUtf8(name)) {
        const bool beyondAscii = std::any_of(decoded->begin(), decoded->end(),
                                             [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
        if (beyondAscii) return name;
    }
    return zenqa::mail::utf8ToModifiedUtf7(name);
}

const char* const notUtf8 = "the folder name is not UTF-8 text, so it has no IMAP name";

// The digits at `from`; a sign or any other character ends them, so "-7" is 0.
unsigned long long leadingNumber(const std::string& text, std::string::size_type from) {
    unsigned long long value = 0;
    for (; from < text.size() && text[from] >= '0' && text[from] <= '9'; ++from) {
        value = std::min(value * 10 + static_cast<unsigned>(text[from] - '0'), 1000000ULL);
    }
    return value;
}

// The version is the last word of the X-CHECKVERSION completion and needs
// three dot-separated parts ("6.3.0"); X-APPEND came with 6.3.
bool versionAtLeast63(const std::string& completion) {
    auto space = completion.rfind(' ');
    if (space == std::string::npos) return false;
    auto firstDot = completion.find('.', space + 1);
    if (firstDot == std::string::npos) return false;
    if (completion.find('.', firstDot + 1) == std::string::npos) return false;
    const auto major = leadingNumber(completion, space + 1);
    const auto minor = leadingNumber(completion, firstDot + 1);
    return major > 6 || (major == 6 && minor >= 3);
}

// The server's words after the tag and the status word of a completion, e.g.
// "Account already exists" of "T4 NO Account already exists".
std::string completionText(const Command& command) {
    std::string tagged;
    std::vector<std::string> untagged;
    command.getResponse(tagged, untagged);
    auto space = tagged.find(' ');
    if (space != std::string::npos) space = tagged.find(' ', space + 1);
    return space == std::string::npos ? std::string() : tagged.substr(space + 1);
}

unsigned folderTypeBit(SimpleImapClient::FolderType type) {
    switch (type) {
        case SimpleImapClient::FolderContact: return ListExtension::Contact;
        case SimpleImapClient::FolderCalendar: return ListExtension::Calendar;
        case SimpleImapClient::FolderTask: return ListExtension::Todo;
        case SimpleImapClient::FolderJournal: return ListExtension::Journal;
        case SimpleImapClient::FolderMail: return ListExtension::Mail;
        case SimpleImapClient::FolderNote: return ListExtension::Note;
        default: return 0;
    }
}

}  // namespace

SimpleImapClient::SimpleImapClient(unsigned timeoutSeconds) : timeoutSeconds(timeoutSeconds) {}

void SimpleImapClient::setTls(bool tls, bool verify) {
    useTls = tls;
    verifyPeer = verify;
}

SimpleImapClient::ImapClientResult SimpleImapClient::init(const std::string& host, unsigned port,
                                                          const std::string& user,
                                                          const std::string& password,
                                                          bool useCramMD5) {
    if (connected) return AlreadyConnected;
    forgetAppends();
    if (masterMode)
        connection.initialize(host, port, password, timeoutSeconds, useTls);
    else
        connection.initialize(host, port, user, password, useCramMD5, timeoutSeconds, useTls);
    connection.transport().setVerifyPeer(verifyPeer);
    try {
        connection.init(true);
    } catch (ImapException& e) {
        return handleImapException(e, AuthenticationFailed);
    }
    connected = true;
    return Ok;
}

SimpleImapClient::ImapClientResult SimpleImapClient::connect(const std::string& host,
                                                             unsigned port,
                                                             const std::string& user,
                                                             const std::string& password,
                                                             bool useCramMD5) {
    masterMode = false;
    return init(host, port, user, password, useCramMD5);
}

SimpleImapClient::ImapClientResult SimpleImapClient::connect(const std::string& host,
                                                             unsigned port,
                                                             const std::string& masterPassword,
                                                             unsigned) {
    masterMode = true;
    return init(host, port, "", masterPassword, false);
}

void SimpleImapClient::disconnect(bool sendLogout) {
    if (!connected) return;
    if (sendLogout) {
        try {
            connection.logout();
        } catch (ImapException&) {
            // The connection is closed below either way.
        }
    }
    connection.close();
    forgetAppends();
    keysOwed.clear();
    connected = false;
}

void SimpleImapClient::forgetAppends() {
    appends.clear();
    appendSizes.clear();
    appendBytes = 0;
}

bool SimpleImapClient::isXAppendSupported() {
    if (!connected) return false;
    try {
        Command probe(connection.transport(), "X-CHECKVERSION");
        if (probe.execute(nullptr) == Command::BAD) return false;
        std::string tagged;
        std::vector<std::string> untagged;
        probe.getResponse(tagged, untagged);
        return versionAtLeast63(tagged);
    } catch (...) {
        return false;
    }
}

SimpleImapClient::ImapClientResult SimpleImapClient::createUser(const std::string& name,
                                                                const std::string& domain,
                                                                const std::string& password,
                                                                const std::string& fullName) {
    if (!connected) return NotConnected;
    responseText.clear();
    try {
        CommandXCreateUser command(connection.transport(), name, domain, password, fullName, {});
        Command::Response response = command.execute(nullptr);
        responseText = completionText(command);
        return response == Command::OK ? Ok : CreateUserFailed;
    } catch (ImapException& e) {
        return handleImapException(e, CreateUserFailed);
    }
}

SimpleImapClient::ImapClientResult SimpleImapClient::setUser(const std::string& user,
                                                             const std::string& domain) {
    if (!connected) return NotConnected;
    responseText.clear();
    try {
        CommandXSetUser command(connection.transport(), user + "@" + domain);
        Command::Response response = connection.setUser(command);
        responseText = completionText(command);
        return response == Command::OK ? Ok : SetUserFailed;
    } catch (ImapException& e) {
        return handleImapException(e, SetUserFailed);
    }
}

SimpleImapClient::ImapClientResult SimpleImapClient::createFolder(const std::string& name,
                                                                  FolderType type) {
    if (!connected) return NotConnected;
    responseText.clear();
    const std::optional<std::string> wire = wireName(name);
    if (!wire) {
        responseText = notUtf8;
        return CreateFolderFailed;
    }
    try {
        CommandCreate command(connection.transport(), *wire, folderTypeBit(type), "");
        Command::Response response = command.execute(nullptr);
        responseText = completionText(command);
        return response == Command::OK ? Ok : CreateFolderFailed;
    } catch (ImapException& e) {
        return handleImapException(e, CreateFolderFailed);
    }
}

SimpleImapClient::ImapClientResult SimpleImapClient::select(const std::string& name) {
    if (!connected) return NotConnected;
    const std::optional<std::string> wire = wireName(name);
    if (!wire) return SelectFailed;
    try {
        CommandSelect command(connection.transport(), *wire);
        if (command.execute(nullptr) != Command::OK) return SelectFailed;
        connection.setState(ConnectionInternal::Selected);
        return Ok;
    } catch (ImapException& e) {
        return handleImapException(e, SelectFailed);
    }
}

SimpleImapClient::ImapClientResult SimpleImapClient::list(std::vector<std::string>& names) {
    names.clear();
    if (!connected) return NotConnected;
    try {
        CommandList command(connection.transport(), "", "*");
        if (command.execute(nullptr) != Command::OK) return ListFailed;
        std::vector<FolderInfo> folders;
        command.getList(folders, true);
        for (const auto& folder : folders) {
            if (!folder.selectable) continue;
            // A name that is not modified UTF-7 is given as the server sent it.
            const std::optional<std::string> name = zenqa::mail::modifiedUtf7ToUtf8(folder.name);
            names.push_back(name ? *name : folder.name);
        }
        return Ok;
    } catch (ImapException& e) {
        return handleImapException(e, ListFailed);
    }
}

SimpleImapClient::ImapClientResult SimpleImapClient::status(const std::string& name,
                                                            unsigned& count) {
    if (!connected) return NotConnected;
    const std::optional<std::string> wire = wireName(name);
    if (!wire) return StatusFailed;
    try {
        CommandStatus command(connection.transport(), *wire);
        if (command.execute(nullptr) != Command::OK) return StatusFailed;
        count = static_cast<unsigned>(command.getMessagesCount());
        return Ok;
    } catch (ImapException& e) {
        return handleImapException(e, StatusFailed);
    }
}

SimpleImapClient::ImapClientResult SimpleImapClient::append(const std::string& mailbox,
                                                            IMessage* message,
                                                            bool useXAppend) {
    const ImapClientResult sent = sendAppend(mailbox, message, useXAppend);
    return sent == Ok ? collectAppend() : sent;
}

SimpleImapClient::ImapClientResult SimpleImapClient::sendAppend(const std::string& mailbox,
                                                                IMessage* message,
                                                                bool useXAppend) {
    if (!connected) return NotConnected;
    std::int64_t size = message->getFixedSize();
    // A source that cannot tell its size cannot announce a literal.
    if (size < 0) return MessageLoadFailed;
    const std::optional<std::string> wire = wireName(mailbox);
    if (!wire) return AppendFailed;
    std::string date = message->getDate();
    std::string flags = message->getFlags();
    try {
        auto command = std::make_unique<CommandAppend>(connection.transport(), *wire, flags, date,
                                                       static_cast<std::uint64_t>(size), useXAppend);
        NulGuardedMessage guarded(*message);
        command->start(&guarded);
        appends.push(std::move(command));
        appendSizes.push_back(static_cast<std::uint64_t>(size));
        appendBytes += static_cast<std::uint64_t>(size);
        return Ok;
    } catch (ImapException& e) {
        responseText = e.what();
        return handleImapException(e, AppendFailed);
    }
}

bool SimpleImapClient::appendWindowFull() const {
    if (appends.empty()) return false;
    // Without LITERAL+ a server may not read a command sent ahead of an answer.
    const unsigned window = connection.hasLiteralPlus() ? appendWindow : 1;
    return appends.size() >= window || appendBytes >= maxAppendBytesInFlight;
}

SimpleImapClient::ImapClientResult SimpleImapClient::collectAppend() {
    if (appends.empty()) return NotConnected;
    appendBytes -= appendSizes.front();
    appendSizes.pop_front();
    try {
        return appends.popCompleted()->getStatus() == Command::OK ? Ok : AppendFailed;
    } catch (ImapException& e) {
        return handleImapException(e, AppendFailed);
    }
}

bool SimpleImapClient::testImapServer(const std::string& host, unsigned port,
                                      std::string& greeting) {
    ConnectionInternal probe;
    probe.initialize(host, port, "", "", false, timeoutSeconds, useTls);
    probe.transport().setVerifyPeer(verifyPeer);
    try {
        probe.init(false);
    } catch (ImapConnectionFailed&) {
        return false;
    }
    greeting = probe.getGreeting();
    return true;
}

void SimpleImapClient::abort() {
    abortLock.lockWrite();
    aborted = true;
    abortLock.unlock();
}

bool SimpleImapClient::wasAborted() {
    abortLock.lockWrite();
    bool result = aborted;
    abortLock.unlock();
    return result;
}

SimpleImapClient::ImapClientResult SimpleImapClient::handleImapException(
    ImapException& e, ImapClientResult fallback) {
    if (dynamic_cast<ImapTimeoutException*>(&e) || dynamic_cast<ImapConnectionFailed*>(&e))
        return ConnectionError;
    if (dynamic_cast<AuthenticateFailedException*>(&e)) return AuthenticationFailed;
    if (dynamic_cast<ImapServerBrokeConnection*>(&e)) return ConnectionError;
    if (dynamic_cast<IMessageLoadFailedException*>(&e)) return MessageLoadFailed;
    return fallback;
}

SimpleImapClient::ImapClientResult SimpleImapClient::examineKeys(
    const std::string& folder, std::vector<TargetMessage>& messages) {
    startExamineKeys(folder);
    return finishKeys(messages);
}

SimpleImapClient::ImapClientResult SimpleImapClient::selectKeys(
    const std::string& folder, std::vector<TargetMessage>& messages) {
    startSelectKeys(folder);
    return finishKeys(messages);
}

void SimpleImapClient::startExamineKeys(const std::string& folder) { startKeys(true, folder); }

void SimpleImapClient::startSelectKeys(const std::string& folder) { startKeys(false, folder); }

void SimpleImapClient::startKeys(bool readOnly, const std::string& folder) {
    keysOwed.clear();
    keysStarted = Ok;
    if (!connected) {
        keysStarted = NotConnected;
        return;
    }
    const std::optional<std::string> wire = wireName(folder);
    if (!wire) {
        keysStarted = SelectFailed;
        return;
    }
    try {
        std::unique_ptr<Command> open;
        if (readOnly)
            open = std::make_unique<CommandExamine>(connection.transport(), *wire);
        else
            open = std::make_unique<CommandSelect>(connection.transport(), *wire);
        open->start(nullptr);
        keysOwed.push(std::move(open));
        // One round trip: the fetch waits in the server behind the open.
        // Without LITERAL+ it waits for the open's answer instead, as a
        // refused open would leave its answer to a fetch owed.
        if (connection.hasLiteralPlus()) {
            auto fetch = std::make_unique<CommandUidFetchKeys>(connection.transport());
            fetch->start(nullptr);
            keysOwed.push(std::move(fetch));
        }
    } catch (ImapException& e) {
        keysOwed.clear();
        keysStarted = handleImapException(e, FetchFailed);
    }
}

SimpleImapClient::ImapClientResult SimpleImapClient::finishKeys(std::vector<TargetMessage>& messages) {
    messages.clear();
    const ImapClientResult started = keysStarted;
    keysStarted = FetchFailed;
    if (started != Ok) return started;
    if (keysOwed.empty()) return NotConnected;  // disconnected since the start
    try {
        std::unique_ptr<Command> open = keysOwed.popCompleted();
        std::unique_ptr<Command> fetch;
        if (!keysOwed.empty()) fetch = keysOwed.popCompleted();
        if (open->getStatus() != Command::OK) return SelectFailed;
        if (!fetch) {
            fetch = std::make_unique<CommandUidFetchKeys>(connection.transport());
            fetch->execute(nullptr);
        }
        connection.setState(ConnectionInternal::Selected);
        if (fetch->getStatus() != Command::OK) return FetchFailed;
        // The count the folder had when it was opened: what 1:* covers at least.
        const std::optional<std::uint32_t> exists = lastExists(*open);
        if (!static_cast<CommandUidFetchKeys&>(*fetch).getMessages(messages) ||
            (exists && messages.size() < *exists)) {
            // Messages the answer left out would be taken for missing ones.
            messages.clear();
            return FetchFailed;
        }
        return Ok;
    } catch (ImapException& e) {
        keysOwed.clear();
        messages.clear();
        return handleImapException(e, FetchFailed);
    }
}

SimpleImapClient::ImapClientResult SimpleImapClient::storeFlags(
    std::uint32_t uid, const std::vector<std::string>& flags) {
    if (!connected) return NotConnected;
    if (!std::all_of(flags.begin(), flags.end(), isFlagText)) return StoreFailed;
    try {
        CommandUidStore command(connection.transport(), uid, flags);
        return command.execute(nullptr) == Command::OK ? Ok : StoreFailed;
    } catch (ImapException& e) {
        return handleImapException(e, StoreFailed);
    }
}
