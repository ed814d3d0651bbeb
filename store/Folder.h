#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/MailboxType.h"
#include "store/StoreProblem.h"
#include "utils/FolderType.h"

namespace tarmig {

class Message;
class MboxScanner;

// Store path of a folder name: "Archive/2004" becomes "Archive.folder/2004".
std::string convertFolderName(std::string name);
// IMAP flag list text for the store's flag letters, always in the order S P A F R D.
std::string convertFlags(const std::string& letters);
// "Jan" ... "Dec" for 1 ... 12, empty otherwise.
std::string convertMonth(unsigned month);
// Splits a .mdir file name "<n>-<flags>-<stamp>-<rest>"; both empty with fewer than three '-'.
void separateFlagsAndTimestamp(const std::string& fileName, std::string& flags, std::string& timestamp);
// The order of .mdir message files: by the number before the first '-'
// (numerically, however long), then by name; names without such a number
// last, in byte order.
bool mdirNameBefore(const std::string& left, const std::string& right);

// One mail folder of an account: finds its storage (.mbox file or .mdir
// directory) and hands out its messages one by one into a reused Message.
//
// Folders live by value in the account's folder list while closed and are
// opened in place there. A copy always starts closed; moving keeps the open
// file, so a folder list may grow while one of its folders is open.
class Folder {
public:
    explicit Folder(std::ostream& output);
    Folder(const Folder& other);
    Folder& operator=(const Folder& other);
    Folder(Folder&& other) noexcept;
    Folder& operator=(Folder&& other) noexcept;
    virtual ~Folder();

    void initialize(const std::string& name, const std::string& accountDirectory, MailboxType type);

    void setClass(const std::string& folderClass) { class_ = folderClass; }
    void setMessageCount(const std::string& count) { messageCount_ = count; }
    void setSize(const std::string& size) { size_ = size; }
    // A folder found on disk that the account's info file does not list.
    void setFromDisk(bool fromDisk) { fromDisk_ = fromDisk; }
    bool isFromDisk() const { return fromDisk_; }
    const std::string& getName() const { return name_; }
    const std::string& getClass() const { return class_; }
    const std::string& getMessageCount() const { return messageCount_; }
    const std::string& getSize() const { return size_; }
    const std::string& getAccountDirectory() const { return accountDirectory_; }
    MailboxType getStorageType() const { return storageType_; }

    // Whether anything lies where the folder's storage would be (a .mbox or
    // .mdir entry of any kind); no storage is an empty folder unless the
    // info file says it holds messages.
    bool storageExists(const std::string& accountName) const;
    // Locates the storage and opens a .mbox file; throws CGStoreException
    // when it cannot, also when the storage or a directory on its way is a
    // symbolic link: a folder is read from inside its account or not at all.
    void openMessagesFile(const std::string& accountName);
    // Fill `message` with the first / next message; false at the end.
    // What the storage holds besides messages (text before the first
    // separator, .mdir entries that are no regular files, message files that
    // cannot be opened) is skipped and kept for takeProblems().
    bool getFirstMessage(Message& message, bool fixLineEnds);
    bool getNextMessage(Message& message, bool fixLineEnds);
    // The problems met since the last call, oldest first.
    std::vector<StoreProblem> takeProblems();
    // Releases the message file and the directory handle; safe at any time.
    void closeMessagesFile();
    // The open message file with its error state cleared, or nullptr.
    std::istream* getFileStream();
    // Up to `length` bytes of the open file from `position`, fewer where it
    // ends: a view of the bytes the folder's scan still holds, else read into
    // `buffer`. The view lasts until the next message is fetched. False
    // without a file or when it cannot be read.
    bool readData(std::int64_t position, std::size_t length, char* buffer, std::string_view& data);
    // Target folder type for the folder's class.
    ImapFolderType getType() const;

    // Parsing steps; they only write warnings and error lines, so tests call them directly.
    bool readMessageHeader(const std::string& line, Message& message);
    std::string parseTimeStamp(const std::string& timestamp);
    std::string parseTimeStampMDIR(const std::string& timestamp);
    static bool checkTime(int day, int month, int hour, int minute, int second);
    static bool checkTime(int day, const std::string& month, int hour, int minute, int second);

private:
    struct MdirEntry {
        std::string name;
        bool regularFile = false;
    };

    // Path of the storage relative to the account directory, without suffix.
    std::string storeName(const std::string& accountName) const;
    bool isAccountDirectory() const;
    // Throws when the account directory's entry `relative` or a directory
    // on its way is a symbolic link.
    void refuseLinks(const std::string& relative) const;
    void checkFolderType();
    bool listMdir();
    void noteLeadingBytes(std::int64_t firstSeparator);
    // Reports the byte at `position`, which the message before a separator
    // gives up with the LF after it, unless it is the CR the store puts there.
    void noteByteBeforeSeparator(std::int64_t position);
    // The size of the message data starting at `dataOffset`, and its bare LFs (-1 when not known).
    std::int64_t skipMessageBody(std::int64_t dataOffset, std::int64_t& bareLineFeeds);
    bool getNextMessageMBOX(Message& message, bool fixLineEnds);
    bool getNextMessageMDIR(Message& message, bool fixLineEnds);
    [[noreturn]] void failRead();
    void addProblem(const std::string& line, StoreProblem::Loss loss);

    std::string accountDirectory_;
    std::string name_;
    std::string messageCount_ = "0";
    std::string size_ = "0";
    std::string class_ = "IPF.Note";
    bool fromDisk_ = false;
    std::ostream* output_;
    std::unique_ptr<std::ifstream> file_;
    std::string mboxPath_;
    std::int64_t mboxPosition_ = 0;
    bool leadingChecked_ = false;       // the bytes before the first separator were looked at
    std::int64_t streamPosition_ = -1;  // where the file stream stands, when the folder knows
    MailboxType storageType_ = MailboxNone;
    std::string mdirDirectory_;
    std::vector<MdirEntry> mdirEntries_;  // listed by getFirstMessage, in message order
    std::size_t mdirNext_ = 0;
    bool mdirListed_ = false;
    std::unique_ptr<MboxScanner> scanner_;
    std::vector<StoreProblem> problems_;
};

}  // namespace tarmig
