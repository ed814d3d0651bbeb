#include "store/Folder.h"

#include <ostream>

#include "store/MboxScanner.h"
#include "utils/DirectoryReader.h"

namespace tarmig {

Folder::Folder(std::ostream& output) : output_(&output) {}

Folder::Folder(const Folder& other)
    : accountDirectory_(other.accountDirectory_),
      name_(other.name_),
      messageCount_(other.messageCount_),
      size_(other.size_),
      class_(other.class_),
      output_(other.output_),
      storageType_(other.storageType_),
      mdirDirectory_(other.mdirDirectory_) {}

Folder& Folder::operator=(const Folder& other) {
    if (this != &other) {
        closeMessagesFile();
        accountDirectory_ = other.accountDirectory_;
        name_ = other.name_;
        messageCount_ = other.messageCount_;
        size_ = other.size_;
        class_ = other.class_;
        output_ = other.output_;
        mboxPosition_ = 0;
        storageType_ = other.storageType_;
        mdirDirectory_ = other.mdirDirectory_;
    }
    return *this;
}

Folder::Folder(Folder&& other) noexcept = default;
Folder& Folder::operator=(Folder&& other) noexcept = default;
Folder::~Folder() = default;

void Folder::initialize(const std::string& name, const std::string& accountDirectory, MailboxType type) {
    name_ = name;
    accountDirectory_ = accountDirectory;
    storageType_ = type;
}

void Folder::closeMessagesFile() {
    file_.reset();
    directory_.reset();
    scanner_.reset();
}

std::istream* Folder::getFileStream() {
    if (!file_) return nullptr;
    file_->clear();
    return file_.get();
}

ImapFolderType Folder::getType() const {
    if (class_ == "TextMailbox" || class_ == "IPF.Note") return ImapFolderType::FolderMail;
    if (class_ == "IPF.Appointment") return ImapFolderType::FolderCalendar;
    if (class_ == "IPF.Task") return ImapFolderType::FolderTask;
    if (class_ == "IPF.Journal") return ImapFolderType::FolderJournal;
    if (class_ == "IPF.Contact") return ImapFolderType::FolderContact;
    // Sticky notes are created without a type, like any unknown class.
    return ImapFolderType::FolderNone;
}

}  // namespace tarmig
