#include "store/Folder.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <optional>
#include <ostream>
#include <utility>

#include "store/MboxScanner.h"
#include "store/Message.h"
#include "store/StoreError.h"
#include "utils/DirectoryReader.h"
#include "utils/ShownText.h"

namespace tarmig {

using zenqa::utils::shownText;

namespace {

constexpr std::array<const char*, 12> monthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// "dd-Mon-year hh:mm:ss +0000" of checked clock fields (two digits each) and any year.
std::string formatDate(int day, const std::string& month, int year, int hour, int minute, int second) {
    std::string text;
    text.reserve(32);
    auto twoDigits = [&text](int value) {
        text += static_cast<char>('0' + value / 10);
        text += static_cast<char>('0' + value % 10);
    };
    char yearText[16];
    auto yearEnd = std::to_chars(yearText, yearText + sizeof yearText, year).ptr;
    twoDigits(day);
    text += '-';
    text += month;
    text += '-';
    text.append(yearText, yearEnd);
    text += ' ';
    twoDigits(hour);
    text += ':';
    twoDigits(minute);
    text += ':';
    twoDigits(second);
    text += " +0000";
    return text;
}

// Whether sscanf's %s would see two words: the text up to any NUL holds whitespace.
bool hasSpace(const std::string& text) {
    for (char c : text) {
        if (c == '\0') return false;
        if (std::isspace(static_cast<unsigned char>(c))) return true;
    }
    return false;
}

// The store's own form "dd-mm-yyyy_hh:mm:ss_" in plain digit runs short
// enough not to overflow, read as sscanf's "%d-%d-%d_%d:%d:%d_" reads it;
// false for anything else, which is left to sscanf.
bool readNumericStamp(const std::string& text, int& day, int& month, int& year, int& hour, int& minute,
                      int& second) {
    static constexpr char separators[] = "--_::";
    int* fields[] = {&day, &month, &year, &hour, &minute, &second};
    const char* p = text.c_str();
    for (int i = 0; i < 6; ++i) {
        if (i > 0 && *p++ != separators[i - 1]) return false;
        int value = 0;
        int digits = 0;
        for (; *p >= '0' && *p <= '9'; ++p) {
            if (++digits > 9) return false;
            value = value * 10 + (*p - '0');
        }
        if (digits == 0) return false;
        *fields[i] = value;
    }
    return true;
}

bool checkClock(int day, int hour, int minute, int second) {
    return second >= 0 && second <= 59 && minute >= 0 && minute <= 59 && hour >= 0 && hour <= 23 && day >= 1 &&
           day <= 31;
}

// Each level of a name gets a suffix, so dots and slashes cannot climb out of
// the account. A NUL byte would cut the path short, and a single-file account
// has only its inbox: any other name there is another account's file.
bool staysInsideAccount(const std::string& name, MailboxType type) {
    return name.find('\0') == std::string::npos && (type != MailboxMbox || name == "INBOX");
}

bool isRegularFile(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

bool isLink(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// The digits before the first '-' of an .mdir file name without leading
// zeros, so that comparing length first and then bytes compares numbers.
std::optional<std::string_view> leadingNumber(std::string_view name) {
    auto dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0) return std::nullopt;
    std::string_view digits = name.substr(0, dash);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
    return digits.substr(std::min(digits.find_first_not_of('0'), digits.size()));
}

}  // namespace

std::string convertFolderName(std::string name) {
    static const std::string levelSuffix = ".folder/";
    for (auto slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + levelSuffix.size())) {
        name.replace(slash, 1, levelSuffix);
    }
    return name;
}

std::string convertFlags(const std::string& letters) {
    static const std::array<std::pair<char, const char*>, 6> table = {{
        {'S', "\\Seen "},
        {'P', "\\Deleted "},
        {'A', "\\Answered "},
        {'F', "\\Flagged "},
        {'R', "\\Recent "},
        {'D', "\\Draft "},
    }};
    std::string flags;
    for (const auto& [letter, flag] : table) {
        if (letters.find(letter) != std::string::npos) flags += flag;
    }
    return flags;
}

std::string convertMonth(unsigned month) {
    if (month < 1 || month > monthNames.size()) return {};
    return monthNames[month - 1];
}

void separateFlagsAndTimestamp(const std::string& fileName, std::string& flags, std::string& timestamp) {
    flags.clear();
    timestamp.clear();
    auto first = fileName.find('-');
    if (first == std::string::npos) return;
    auto second = fileName.find('-', first + 1);
    if (second == std::string::npos) return;
    auto third = fileName.find('-', second + 1);
    if (third == std::string::npos) return;
    flags = fileName.substr(first + 1, second - first - 1);
    timestamp = fileName.substr(second + 1, third - second - 1);
}

bool mdirNameBefore(const std::string& left, const std::string& right) {
    auto a = leadingNumber(left);
    auto b = leadingNumber(right);
    if (a && b && *a != *b) return a->size() != b->size() ? a->size() < b->size() : *a < *b;
    if (a.has_value() != b.has_value()) return a.has_value();
    return left < right;
}

Folder::Folder(std::ostream& output) : output_(&output) {}

Folder::Folder(const Folder& other)
    : accountDirectory_(other.accountDirectory_),
      name_(other.name_),
      messageCount_(other.messageCount_),
      size_(other.size_),
      class_(other.class_),
      fromDisk_(other.fromDisk_),
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
        fromDisk_ = other.fromDisk_;
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

std::string Folder::storeName(const std::string& accountName) const {
    return (storageType_ == MailboxMbox && name_ == "INBOX") ? accountName : convertFolderName(name_);
}

// The inbox of a .mdir account is the account's own directory.
bool Folder::isAccountDirectory() const {
    bool inMacnt = accountDirectory_.size() >= 6 && accountDirectory_.ends_with(".macnt");
    return storageType_ == MailboxMdir && name_ == "INBOX" && !inMacnt;
}

void Folder::checkFolderType() {
    if (storageType_ != MailboxMacnt) return;
    // A link is taken for a directory here, to be refused as one.
    std::string mdir = accountDirectory_ + "/" + convertFolderName(name_) + ".mdir";
    struct stat st;
    if (::lstat(mdir.c_str(), &st) == 0 && (S_ISDIR(st.st_mode) || S_ISLNK(st.st_mode))) storageType_ = MailboxMdir;
}

bool Folder::storageExists(const std::string& accountName) const {
    // Such a name has no storage of its own; opened, it is refused.
    if (!staysInsideAccount(name_, storageType_)) return false;
    const std::string base = accountDirectory_ + "/" + storeName(accountName);
    switch (storageType_) {
    case MailboxMacnt:
        return exists(base + ".mdir") || exists(base + ".mbox");
    case MailboxMbox:
        return exists(base + ".mbox");
    case MailboxMdir:
        return isAccountDirectory() ? exists(accountDirectory_) : exists(base + ".mdir");
    default:
        return false;
    }
}

void Folder::refuseLinks(const std::string& relative) const {
    for (auto slash = relative.find('/');; slash = relative.find('/', slash + 1)) {
        std::string path = accountDirectory_ + "/" + relative.substr(0, slash);
        if (isLink(path)) {
            reportStoreError(*output_, "cannot read folder \"" + shownText(name_) + "\": \"" + shownText(path) +
                                           "\" is a symbolic link");
        }
        if (slash == std::string::npos) return;
    }
}

void Folder::openMessagesFile(const std::string& accountName) {
    closeMessagesFile();
    problems_.clear();
    mdirDirectory_.clear();
    leadingChecked_ = false;
    if (!staysInsideAccount(name_, storageType_)) {
        reportStoreError(*output_, "cannot read folder \"" + shownText(name_) +
                                       "\": its storage would lie outside the account");
    }
    std::string relative = storeName(accountName);
    const MailboxType listedType = storageType_;
    checkFolderType();
    if (listedType == MailboxMacnt && storageType_ == MailboxMdir) {
        // The directory wins, as it always has; the file beside it is not lost unseen.
        std::string mbox = accountDirectory_ + "/" + relative + ".mbox";
        if (exists(mbox)) {
            addProblem("Error: \"" + shownText(mbox) + "\" is not migrated: folder \"" + shownText(name_) +
                           "\" is read from its .mdir directory\n",
                       StoreProblem::LostBytes);
        }
    }
    if (storageType_ == MailboxMacnt || storageType_ == MailboxMbox) {
        refuseLinks(relative + ".mbox");
        std::string path = accountDirectory_ + "/" + relative + ".mbox";
        // Only a regular file: a FIFO would block the open and a device never ends.
        auto file = isRegularFile(path) ? std::make_unique<std::ifstream>(path, std::ios::binary) : nullptr;
        if (!file || !file->is_open()) {
            reportStoreError(*output_, "cannot read messages file \"" + shownText(path) + "\"");
        }
        file_ = std::move(file);
        mboxPath_ = path;
        streamPosition_ = -1;
        scanner_ = std::make_unique<MboxScanner>();
        mboxPosition_ = 0;
    } else if (storageType_ == MailboxMdir) {
        if (isAccountDirectory()) {
            if (isLink(accountDirectory_)) {
                reportStoreError(*output_, "cannot read folder \"" + shownText(name_) + "\": \"" +
                                               shownText(accountDirectory_) + "\" is a symbolic link");
            }
            mdirDirectory_ = accountDirectory_;
        } else {
            refuseLinks(relative + ".mdir");
            mdirDirectory_ = accountDirectory_ + "/" + relative + ".mdir";
        }
    }
}

bool Folder::listMdir() {
    zenqa::utils::DirectoryReader reader;
    if (!reader.open(mdirDirectory_)) return false;
    mdirEntries_.clear();
    MdirEntry entry;
    zenqa::utils::DirectoryReader::Kind kind;
    while (reader.next(entry.name, kind)) {
        entry.regularFile = kind == zenqa::utils::DirectoryReader::File;
        mdirEntries_.push_back(entry);
    }
    std::sort(mdirEntries_.begin(), mdirEntries_.end(),
              [](const MdirEntry& a, const MdirEntry& b) { return mdirNameBefore(a.name, b.name); });
    mdirNext_ = 0;
    mdirListed_ = true;
    return true;
}

bool Folder::getFirstMessage(Message& message, bool fixLineEnds) {
    if (storageType_ == MailboxMacnt || storageType_ == MailboxMbox) {
        mboxPosition_ = 0;
    } else if (storageType_ == MailboxMdir) {
        if (mdirDirectory_.empty()) return false;  // not opened
        if (!listMdir())
            reportStoreError(*output_, "cannot read message directory \"" + shownText(mdirDirectory_) + "\"");
    }
    return getNextMessage(message, fixLineEnds);
}

std::vector<StoreProblem> Folder::takeProblems() { return std::exchange(problems_, {}); }

void Folder::addProblem(const std::string& line, StoreProblem::Loss loss) { problems_.push_back({line, loss}); }

bool Folder::getNextMessage(Message& message, bool fixLineEnds) {
    if (storageType_ == MailboxMacnt || storageType_ == MailboxMbox) return getNextMessageMBOX(message, fixLineEnds);
    if (storageType_ == MailboxMdir) return getNextMessageMDIR(message, fixLineEnds);
    return false;
}

void Folder::failRead() {
    reportStoreError(*output_, "message cannot be read");
}

void Folder::noteLeadingBytes(std::int64_t firstSeparator) {
    leadingChecked_ = true;
    if (firstSeparator <= 0) return;
    auto result = scanner_->findNonBlank(*file_, 0, firstSeparator);
    if (result == MboxScanner::ReadError) failRead();
    // White space there is how files often start; anything else is text no message holds.
    if (result == MboxScanner::Found) {
        addProblem("Warning: " + std::to_string(firstSeparator) + " bytes of \"" + shownText(mboxPath_) +
                       "\" before its first message separator were not migrated\n",
                   StoreProblem::LostBytes);
    }
}

void Folder::noteByteBeforeSeparator(std::int64_t position) {
    char byte = 0;
    std::string_view data;
    if (!readData(position, 1, &byte, data) || data.size() != 1) failRead();
    // The store writes CR LF there. Where a file has only the LF, the byte
    // left out may be the message's last character.
    if (data[0] != '\r' && data[0] != '\n') {
        addProblem("Warning: 1 byte of \"" + shownText(mboxPath_) + "\" at offset " + std::to_string(position) +
                       ", the last before a message separator's line feed, was not migrated\n",
                   StoreProblem::LostBytes);
    }
}

bool Folder::getNextMessageMBOX(Message& message, bool fixLineEnds) {
    if (!file_ || !scanner_ || mboxPosition_ < 0) return false;
    MboxScanner::Line line;
    streamPosition_ = -1;  // the scan moves the stream
    auto result = scanner_->findSeparator(*file_, mboxPosition_, line);
    if (result == MboxScanner::ReadError) failRead();
    if (mboxPosition_ == 0 && !leadingChecked_) {
        noteLeadingBytes(result == MboxScanner::Found ? line.start : scanner_->endOfFile());
    }
    if (result == MboxScanner::End) {
        mboxPosition_ = -1;
        return false;
    }
    // The scanner stops only at lines that parse.
    readMessageHeader(line.text, message);
    std::int64_t dataOffset = line.next;
    std::int64_t bareLineFeeds = 0;
    std::int64_t size = skipMessageBody(dataOffset, bareLineFeeds);
    message.initialize(dataOffset, size, fixLineEnds);
    // The line as stored, so that separators, data and the bytes between
    // them give back the file.
    const bool endsWithLineFeed = line.next > line.start + static_cast<std::int64_t>(line.text.size());
    message.setSeparator(line.start, endsWithLineFeed ? line.text + "\n" : line.text);
    // The scan has read every byte of the data already: its count is the
    // size they will have, and a large message is not read a third time.
    // Should the file change before they are sent, the send finds the
    // difference and fails the message.
    message.setFixedSize(fixLineEnds ? size + bareLineFeeds : size);
    // Put together first: one write to the log instead of a dozen.
    std::string info;
    info.reserve(160);
    info += "    Info: read message, local uid: ";
    info += message.getUid();
    info += " offset: ";
    info += std::to_string(dataOffset);
    info += " size: ";
    info += std::to_string(message.getSize());
    info += " date: \"";
    info += message.getDate();
    info += "\" flags: (";
    info += message.getFlags();
    info += ")\n";
    output_->write(info.data(), static_cast<std::streamsize>(info.size()));
    return true;
}

std::int64_t Folder::skipMessageBody(std::int64_t dataOffset, std::int64_t& bareLineFeeds) {
    MboxScanner::Line line;
    MboxScanner::LineFeeds lineFeeds;
    streamPosition_ = -1;  // the scan moves the stream
    auto result = scanner_->findSeparator(*file_, dataOffset, line, &lineFeeds);
    if (result == MboxScanner::ReadError) failRead();
    bareLineFeeds = lineFeeds.bare;
    if (result == MboxScanner::End) {
        mboxPosition_ = -1;
        return scanner_->endOfFile() - dataOffset;
    }
    // The two bytes before a separator line (CR LF) belong to neither message.
    // A separator right after another one leaves an empty message.
    std::int64_t end = std::max(line.start - 2, dataOffset);
    if (line.start - 2 >= dataOffset) noteByteBeforeSeparator(line.start - 2);
    if (bareLineFeeds > 0) {
        bareLineFeeds -= (lineFeeds.lastBare >= end) + (lineFeeds.lastButOneBare >= end);
    }
    mboxPosition_ = end;
    return end - dataOffset;
}

bool Folder::readMessageHeader(const std::string& line, Message& message) {
    MboxScanner::Separator fields;
    if (!MboxScanner::parseSeparator(line, fields)) {
        *output_ << "Error: wrong message header format(uid = " << message.getUid() << "): " << shownText(line)
                 << "\n";
        return false;
    }
    message.setFlags(convertFlags(std::string(fields.flags)));
    message.setDate(parseTimeStamp(std::string(fields.timestamp)));
    message.setUid(std::string(fields.uid));
    return true;
}

bool Folder::getNextMessageMDIR(Message& message, bool fixLineEnds) {
    if (!mdirListed_) return false;
    std::unique_ptr<std::ifstream> file;
    std::string name;
    while (!file && mdirNext_ < mdirEntries_.size()) {
        const MdirEntry& entry = mdirEntries_[mdirNext_++];
        name = entry.name;
        const std::string path = mdirDirectory_ + "/" + name;
        // Links are not followed: what they point to may lie outside the store.
        if (!entry.regularFile) {
            addProblem("Error: cannot read message \"" + shownText(path) + "\": not a regular file\n",
                       StoreProblem::LostMessage);
            continue;
        }
        *output_ << "    Info: read message, filename: " << shownText(name) << "\n";
        file = std::make_unique<std::ifstream>(path, std::ios::binary);
        if (!file->is_open()) {
            file.reset();
            addProblem("Error: cannot read messages file \"" + shownText(path) + "\"\n", StoreProblem::LostMessage);
        }
    }
    file_.reset();
    streamPosition_ = -1;
    if (!file) return false;
    file->seekg(0, std::ios::end);
    std::int64_t size = file->tellg();
    file->seekg(0, std::ios::beg);
    file_ = std::move(file);
    if (size < 0) failRead();
    if (*file_) streamPosition_ = 0;

    std::string flags;
    std::string timestamp;
    separateFlagsAndTimestamp(name, flags, timestamp);
    message.setDate(parseTimeStampMDIR(timestamp));
    message.setFlags(convertFlags(flags));
    message.initialize(0, size, fixLineEnds);
    return true;
}

std::string Folder::parseTimeStamp(const std::string& timestamp) {
    std::string date;
    if (timestamp.size() <= 80) {
        char weekday[100];
        char month[100];
        int day = 0, monthNumber = 0, year = 0, hour = 0, minute = 0, second = 0;
        std::string monthName;
        bool scanned = false;
        // Without whitespace the first form cannot match; the store writes the second.
        if (hasSpace(timestamp) && std::sscanf(timestamp.c_str(), "%99s %99s %d %d:%d:%d %d", weekday, month, &day,
                                               &hour, &minute, &second, &year) == 7) {
            monthName = month;
            scanned = true;
        } else if (readNumericStamp(timestamp, day, monthNumber, year, hour, minute, second) ||
                   std::sscanf(timestamp.c_str(), "%d-%d-%d_%d:%d:%d_", &day, &monthNumber, &year, &hour, &minute,
                               &second) == 6) {
            monthName = convertMonth(static_cast<unsigned>(monthNumber));
            scanned = true;
        }
        if (scanned && checkTime(day, monthName, hour, minute, second)) {
            date = formatDate(day, monthName, year, hour, minute, second);
        }
    }
    if (date.empty()) *output_ << "Warning: cannot parse timestamp.\n";
    return date;
}

std::string Folder::parseTimeStampMDIR(const std::string& timestamp) {
    std::string date;
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (std::sscanf(timestamp.c_str(), "%4d%2d%2d%2d%2d%2d", &year, &month, &day, &hour, &minute, &second) == 6 &&
        checkTime(day, month, hour, minute, second)) {
        date = formatDate(day, convertMonth(static_cast<unsigned>(month)), year, hour, minute, second);
    }
    if (date.empty()) *output_ << "Warning: cannot parse timestamp.\n";
    return date;
}

bool Folder::checkTime(int day, int month, int hour, int minute, int second) {
    return month >= 1 && month <= 12 && checkClock(day, hour, minute, second);
}

bool Folder::checkTime(int day, const std::string& month, int hour, int minute, int second) {
    return std::find(monthNames.begin(), monthNames.end(), month) != monthNames.end() &&
           checkClock(day, hour, minute, second);
}

void Folder::closeMessagesFile() {
    file_.reset();
    streamPosition_ = -1;
    mdirEntries_.clear();
    mdirListed_ = false;
    scanner_.reset();
}

std::istream* Folder::getFileStream() {
    if (!file_) return nullptr;
    file_->clear();
    streamPosition_ = -1;  // the caller may move the stream
    return file_.get();
}

bool Folder::readData(std::int64_t position, std::size_t length, char* buffer, std::string_view& data) {
    if (!file_) return false;
    data = {};
    if (length == 0) return true;
    // A message that ends inside the block its end was found in is served from there.
    if (scanner_) data = scanner_->held(position, length);
    if (!data.empty()) return true;
    file_->clear();
    if (position != streamPosition_) {
        streamPosition_ = -1;
        file_->seekg(position);
        if (!*file_) return false;
    }
    file_->read(buffer, static_cast<std::streamsize>(length));
    if (file_->bad()) {
        streamPosition_ = -1;
        return false;
    }
    auto count = static_cast<std::size_t>(file_->gcount());
    streamPosition_ = count == length ? position + static_cast<std::int64_t>(count) : -1;
    data = std::string_view(buffer, count);
    return true;
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
