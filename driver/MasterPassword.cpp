#include "driver/MasterPassword.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>

namespace tarmig {

namespace {

std::string octalMode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Echo off on the terminal for as long as it lives.
class EchoOff {
public:
    explicit EchoOff(int fd) : fd_(fd) {
        if (tcgetattr(fd_, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        active_ = tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (active_) tcsetattr(fd_, TCSANOW, &saved_);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    int fd_;
    termios saved_{};
    bool active_ = false;
};

}  // namespace

std::string firstLine(std::istream& in) {
    std::string line;
    std::getline(in, line);
    if (line.ends_with('\r')) line.pop_back();
    return line;
}

std::string readPasswordFile(const std::string& path, std::string& error) {
    const std::string named = "Argument error: password file \"" + path + "\"";
    // The mode is checked on the open file, so that it is the file whose data is read.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0) {
        error = named + " cannot be read: " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return "";
    }
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        ::close(fd);
        error = named + " has mode " + octalMode(status.st_mode) +
                ", it must not be readable by group or others";
        return "";
    }
    std::string data;
    char buffer[4096];
    ssize_t got = 0;
    // Only the first line matters; a password file is never large.
    while (data.find('\n') == std::string::npos && (got = ::read(fd, buffer, sizeof buffer)) > 0)
        data.append(buffer, static_cast<std::size_t>(got));
    int readError = errno;
    ::close(fd);
    if (got < 0) {
        error = named + " cannot be read: " + std::strerror(readError);
        return "";
    }
    std::istringstream text(data);
    std::string password = firstLine(text);
    if (password.empty()) error = named + " holds no password on its first line";
    return password;
}

std::string readPasswordFromStandardInput(std::string& error) {
    std::string password;
    if (isatty(STDIN_FILENO)) {
        // Echo goes off before the prompt shows, so nothing typed after it is shown.
        EchoOff echoOff(STDIN_FILENO);
        std::cerr << "Vantrel master password: " << std::flush;
        password = firstLine(std::cin);
        std::cerr << "\n" << std::flush;
    } else {
        password = firstLine(std::cin);
    }
    if (password.empty()) error = "Argument error: no master password on standard input (-password -)";
    return password;
}

std::string masterPassword(const RunOptions& options, std::string& error) {
    if (!options.passwordFile.empty() && !options.password.empty()) {
        error = "Argument error: give the master password by -password or by -passwordFile, not both";
        return "";
    }
    if (!options.passwordFile.empty()) return readPasswordFile(options.passwordFile, error);
    if (options.password == "-") return readPasswordFromStandardInput(error);
    return options.password;
}

}  // namespace tarmig
