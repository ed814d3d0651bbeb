#include "migrator/PasswordReport.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "utils/StopSwitch.h"

namespace tarmig {

namespace {

// strerror_r: other threads may be reporting errors of their own.
std::string errorText() {
    char buffer[256];
    return ::strerror_r(errno, buffer, sizeof buffer);
}

// The new file's directory entry must survive a crash as well as its data.
bool syncDirectoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}

}  // namespace

PasswordReport::~PasswordReport() {
    if (fd_ >= 0) ::close(fd_);
}

void PasswordReport::setPath(std::string path) { path_ = std::move(path); }

std::string PasswordReport::openFile() {
    if (fd_ >= 0) return "";
    if (path_.empty()) return "no file given";
    int fd = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) return errorText();
    // An existing file keeps its old mode under O_CREAT; narrow it as well.
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0 || !syncDirectoryOf(path_)) {
        std::string why = errorText();
        ::close(fd);
        return why;
    }
    fd_ = fd;
    return "";
}

std::string PasswordReport::open() {
    std::lock_guard lock(mutex_);
    std::string why = openFile();
    if (!why.empty()) failed_ = true;
    return why;
}

std::string PasswordReport::add(const std::string& line) {
    std::lock_guard lock(mutex_);
    std::string why = lockFile();
    if (why.empty()) {
        why = writeLine(line);
        unlockFile();
    }
    if (!why.empty()) failed_ = true;
    return why;
}

PasswordReport::Ahead PasswordReport::addAhead(const std::string& line) {
    std::unique_lock lock(mutex_);
    std::string why = lockFile();
    off_t start = 0;
    if (why.empty()) {
        struct stat info {};
        why = ::fstat(fd_, &info) == 0 ? writeLine(line) : errorText();
        start = info.st_size;
        if (!why.empty()) unlockFile();
    }
    if (!why.empty()) {
        failed_ = true;
        lock.unlock();
    }
    return Ahead(*this, std::move(lock), start, std::move(why));
}

std::string PasswordReport::lockFile() {
    if (std::string why = openFile(); !why.empty()) return why;
    while (::flock(fd_, LOCK_EX) != 0) {
        if (errno != EINTR) return errorText();
    }
    return "";
}

void PasswordReport::unlockFile() { ::flock(fd_, LOCK_UN); }

std::string PasswordReport::writeLine(const std::string& line) {
    for (std::size_t written = 0; written < line.size();) {
        ssize_t n = ::write(fd_, line.data() + written, line.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errorText();
        written += static_cast<std::size_t>(n);
    }
    if (::fsync(fd_) != 0) return errorText();
    zenqa::utils::stopSwitchStep();
    return "";
}

PasswordReport::Ahead::Ahead(PasswordReport& report, std::unique_lock<std::mutex> lock, off_t start, std::string why)
    : report_(&report), lock_(std::move(lock)), start_(start), why_(std::move(why)) {}

void PasswordReport::Ahead::keep() {
    if (!lock_.owns_lock()) return;
    report_->unlockFile();
    lock_.unlock();
}

std::string PasswordReport::Ahead::takeBack() {
    if (!lock_.owns_lock()) return "";
    // The file is opened for appending: later lines go to its new end.
    std::string why = ::ftruncate(report_->fd_, start_) == 0 && ::fsync(report_->fd_) == 0 ? "" : errorText();
    if (!why.empty()) report_->failed_ = true;
    report_->unlockFile();
    lock_.unlock();
    return why;
}

}  // namespace tarmig
