// A .mbox file of any bytes is read into messages whose data parts deliver
// exactly the size announced for them, with every bare LF fixed also where a
// CR LF pair is split between parts; unfixed, the bytes before the first
// separator, the separators and the messages put together give the file back.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "store/Folder.h"
#include "store/Message.h"

namespace {

using tarmig::Folder;
using tarmig::Message;

// The reader works on files; one directory for the process, one file per input.
class ScratchDirectory {
public:
    ScratchDirectory() {
        const char* tmp = std::getenv("TMPDIR");
        path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarmig-fuzz-XXXXXX";
        FUZZ_CHECK(::mkdtemp(path_.data()) != nullptr, "cannot create a scratch directory");
    }
    ~ScratchDirectory() { ::rmdir(path_.c_str()); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class ScratchFile {
public:
    ScratchFile(const std::string& path, const std::string& bytes) : path_(path) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        FUZZ_CHECK(out.flush().good(), "cannot write the scratch file");
    }
    ~ScratchFile() { ::unlink(path_.c_str()); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

private:
    std::string path_;
};

// Large enough to cross the reader's 64 KiB data parts and 1 MiB scan blocks.
constexpr std::size_t maxFileSize = 3u << 20;

// The file's bytes: the input, where 0xFE hi lo c stands for ((hi << 8) | lo) * 16
// copies of c, so that short inputs make files that reach part and block
// boundaries at any offset. A count of 0 leaves the 0xFE as it is.
std::string fileBytes(const std::uint8_t* data, std::size_t size) {
    std::string bytes;
    for (std::size_t i = 0; i < size; ++i) {
        std::size_t count = i + 3 < size && data[i] == 0xFE ? ((data[i + 1] << 8) | data[i + 2]) * 16u : 0;
        if (count == 0) {
            bytes += static_cast<char>(data[i]);
        } else {
            bytes.append(std::min(count, maxFileSize - std::min(maxFileSize, bytes.size())),
                         static_cast<char>(data[i + 3]));
            i += 3;
        }
    }
    return bytes;
}

struct Read {
    std::int64_t offset = 0;
    std::int64_t size = 0;
    std::string uid;
    std::string data;
};

// Each message's data as its parts deliver them, checked against the size
// announced before they were read.
std::vector<Read> readFolder(Folder& folder, bool fixLineEnds) {
    std::vector<Read> messages;
    Message message(folder);
    for (bool more = folder.getFirstMessage(message, fixLineEnds); more;
         more = folder.getNextMessage(message, fixLineEnds)) {
        Read read;
        std::int64_t announced = message.getFixedSize();
        std::string part;
        for (bool next = message.getFirstDataPart(part); next; next = message.getNextDataPart(part)) {
            read.data += part;
        }
        FUZZ_CHECK(static_cast<std::int64_t>(read.data.size()) == announced,
                   "data parts do not deliver the announced size");
        read.offset = message.getOffset();
        read.size = message.getSize();
        read.uid = message.getUid();
        messages.push_back(std::move(read));
    }
    return messages;
}

// The stored bytes with each LF that has no CR before it preceded by one.
std::string withFixedLineEnds(const std::string& stored) {
    std::string out;
    for (std::size_t i = 0; i < stored.size(); ++i) {
        if (stored[i] == '\n' && (i == 0 || stored[i - 1] != '\r')) out += '\r';
        out += stored[i];
    }
    return out;
}

// Puts the file together again from what the reader handed out: the bytes
// before the first separator line, then per message the up to two bytes
// before its separator line that belong to no message, the line, and the
// message's data. Each line must be one the reader takes for this message.
std::string rebuild(Folder& folder, const std::string& file, const std::vector<Read>& messages) {
    std::string rebuilt;
    std::size_t previousEnd = 0;
    std::size_t previousOffset = 0;
    Message scratch(folder);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        auto offset = static_cast<std::size_t>(messages[i].offset);
        FUZZ_CHECK(offset >= previousEnd && offset <= file.size(), "message offset out of order");
        std::size_t lineEnd = offset > previousEnd && file[offset - 1] == '\n' ? offset - 1 : offset;
        std::size_t lineStart = 0;
        if (auto lf = lineEnd == 0 ? std::string::npos : file.rfind('\n', lineEnd - 1); lf != std::string::npos) {
            lineStart = lf + 1;
        }
        FUZZ_CHECK(lineStart >= previousEnd, "separator line overlaps the message before");
        std::string line = file.substr(lineStart, lineEnd - lineStart);
        FUZZ_CHECK(line.rfind("From <", 0) == 0, "message does not follow a line starting \"From <\"");
        FUZZ_CHECK(folder.readMessageHeader(line, scratch) && scratch.getUid() == messages[i].uid,
                   "message does not follow its own separator line");
        if (i == 0) {
            rebuilt.append(file, 0, lineStart);
        } else {
            std::size_t between = std::max(lineStart >= 2 ? lineStart - 2 : 0, previousOffset);
            rebuilt.append(file, between, lineStart - between);
        }
        rebuilt += line;
        if (lineEnd != offset) rebuilt += '\n';
        rebuilt += messages[i].data;
        previousOffset = offset;
        previousEnd = offset + messages[i].data.size();
    }
    if (messages.empty()) rebuilt = file;
    return rebuilt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchDirectory directory;
    std::string file = fileBytes(data, size);
    ScratchFile scratch(directory.path() + "/fuzz.mbox", file);

    std::ostringstream log;
    Folder folder(log);
    folder.initialize("INBOX", directory.path(), tarmig::MailboxMbox);
    folder.openMessagesFile("fuzz");

    std::vector<Read> fixed = readFolder(folder, true);
    std::vector<Read> stored = readFolder(folder, false);
    FUZZ_CHECK(fixed.size() == stored.size(), "fixing line ends changes the messages found");
    for (std::size_t i = 0; i < stored.size(); ++i) {
        const Read& message = stored[i];
        FUZZ_CHECK(fixed[i].offset == message.offset && fixed[i].size == message.size,
                   "fixing line ends changes where a message lies");
        FUZZ_CHECK(message.offset >= 0 && message.size >= 0 &&
                       static_cast<std::size_t>(message.offset + message.size) <= file.size(),
                   "message outside the file");
        FUZZ_CHECK(message.data == file.substr(static_cast<std::size_t>(message.offset),
                                               static_cast<std::size_t>(message.size)),
                   "unfixed data differ from the stored bytes");
        FUZZ_CHECK(fixed[i].data == withFixedLineEnds(message.data), "fixed data differ from the stored bytes fixed");
    }
    FUZZ_CHECK(rebuild(folder, file, stored) == file, "the messages and separators do not give the file back");
    folder.closeMessagesFile();
    return 0;
}
