#pragma once

#include <cstdint>
#include <fstream>
#include <memory>
#include <string>
#include <string_view>

#include "store/MailboxType.h"
#include "utils/FolderType.h"

namespace zenqa::utils {
class DirectoryReader;
}

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
    const std::string& getName() const { return name_; }
    const std::string& getClass() const { return class_; }
    const std::string& getMessageCount() const { return messageCount_; }
    const std::string& getSize() const { return size_; }
    const std::string& getAccountDirectory() const { return accountDirectory_; }
    MailboxType getStorageType() const { return storageType_; }

    // Locates the storage and opens a .mbox file; throws CGStoreException when it cannot.
    void openMessagesFile(const std::string& accountName);
    // Fill `message` with the first / next message; false at the end.
    bool getFirstMessage(Message& message, bool fixLineEnds);
    bool getNextMessage(Message& message, bool fixLineEnds);
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
    void checkFolderType();
    // The size of the message data starting at `dataOffset`, and its bare LFs (-1 when not known).
    std::int64_t skipMessageBody(std::int64_t dataOffset, std::int64_t& bareLineFeeds);
    bool getNextMessageMBOX(Message& message, bool fixLineEnds);
    bool getNextMessageMDIR(Message& message, bool fixLineEnds);
    [[noreturn]] void failRead();

    std::string accountDirectory_;
    std::string name_;
    std::string messageCount_ = "0";
    std::string size_ = "0";
    std::string class_ = "IPF.Note";
    std::ostream* output_;
    std::unique_ptr<std::ifstream> file_;
    std::int64_t mboxPosition_ = 0;
    std::int64_t streamPosition_ = -1;  // where the file stream stands, when the folder knows
    MailboxType storageType_ = MailboxNone;
    std::string mdirDirectory_;
    std::unique_ptr<zenqa::utils::DirectoryReader> directory_;
    std::unique_ptr<MboxScanner> scanner_;
};

}  // namespace tarmig
