#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "utils/IMessage.h"
#include "utils/KMutex.h"

namespace tarmig {

class Folder;

// One stored message, read through its folder's open file in parts of at
// most maxPartSize bytes, with bare LF turned into CR LF unless switched off.
// It must not outlive the folder's enumeration.
class Message : public IMessage {
public:
    static constexpr std::size_t maxPartSize = 65535;

    explicit Message(Folder& folder);

    // Position and size of the data in the folder's open file; forgets the
    // cached fixed size and the separator line.
    void initialize(std::int64_t offset, std::int64_t size, bool fixLineEnds);
    // The .mbox separator line before the data, with its LF when it has one,
    // and where it starts in the file; empty and 0 for other messages.
    void setSeparator(std::int64_t offset, std::string line);
    const std::string& getSeparatorLine() const { return separatorLine_; }
    std::int64_t getSeparatorOffset() const { return separatorOffset_; }
    // The size the data parts will deliver, when the folder has counted it already.
    void setFixedSize(std::int64_t fixedSize);

    void setFlags(const std::string& flags) { flags_ = flags; }
    void setDate(const std::string& date) { date_ = date; }
    void setUid(const std::string& uid) { uid_ = uid; }
    const std::string& getUid() const { return uid_; }
    std::int64_t getOffset() const { return offset_; }
    bool getFixLineEnds() const { return fixLineEnds_; }

    bool getFirstDataPart(std::string& part) override;
    bool getNextDataPart(std::string& part) override;
    std::string getFlags() override { return flags_; }
    std::string getDate() override { return date_; }
    std::int64_t getSize() override { return size_; }
    std::int64_t getFixedSize() override;

    // Copies `in` to `out` with each bare LF turned into CR LF; returns how
    // many were turned. `followsCr` tells whether the byte before `in` was a
    // CR, which makes a leading LF part of a CR LF pair split between parts.
    static int fixCrlf(std::string_view in, std::string& out, bool followsCr);
    // How many LFs fixCrlf would turn into CR LF, without copying.
    static std::int64_t countBareLineFeeds(std::string_view in, bool followsCr);

private:
    // Bytes of the part starting at `position`: at most maxPartSize, 0 past the end.
    std::size_t partLength(std::int64_t position) const;
    // Up to `length` stored bytes from `position`, read into `buffer` unless
    // the folder still holds them; fewer where the file ends early. Throws
    // when the file cannot be read.
    std::string_view readRaw(std::int64_t position, std::size_t length, char* buffer);

    std::string flags_;
    std::string date_;
    std::string uid_;
    std::string separatorLine_;
    std::int64_t separatorOffset_ = 0;
    std::int64_t offset_ = 0;
    std::int64_t size_ = 0;
    std::int64_t fixedSize_ = 0;
    std::int64_t readPosition_ = 0;
    bool fixLineEnds_ = true;
    bool followsCr_ = false;
    std::vector<char> buffer_;  // stored bytes of the part being read
    Folder& folder_;
    zenqa::tiny::KMutex sizeLock_;
};

}  // namespace tarmig
