#include "utils/KFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace zenqa::utils {

KFile::~KFile() { close(); }

bool KFile::open(const std::string& path) {
    close();
    // Non-blocking so that opening a FIFO without a writer cannot hang; the
    // flag has no effect on reading a regular file.
    fd_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat st;
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        close();
        return false;
    }
    return true;
}

void KFile::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool KFile::nextBlock(const char*& begin, const char*& end) {
    if (fd_ < 0) return false;
    ssize_t n;
    do {
        n = ::read(fd_, buffer_, BlockSize);
    } while (n < 0 && errno == EINTR);
    // A read error ends the data like the end of the file: the parser then
    // reports the value as cut short.
    if (n <= 0) return false;
    begin = buffer_;
    end = buffer_ + n;
    return true;
}

}  // namespace zenqa::utils
