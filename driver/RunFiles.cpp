#include "driver/RunFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

namespace tarmig {

std::string formatRunStamp(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    char buffer[2048] = {};
    std::snprintf(buffer, 2047, "%04d-%02d-%02d_%02d-%02d-%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

bool openPrivateFile(std::ofstream& file, const std::string& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) return false;
    // An existing file keeps its old mode under O_CREAT; narrow it as well.
    bool narrowed = ::fchmod(fd, S_IRUSR | S_IWUSR) == 0;
    ::close(fd);
    if (!narrowed) return false;
    file.open(path, std::ios::out | std::ios::binary | std::ios::trunc);
    return file.is_open();
}

std::string getHostname() {
    utsname name{};
    if (::uname(&name) != 0) return "unspecified.host";
    return std::string(name.nodename).substr(0, 1023);
}

int initSockets() { return std::signal(SIGPIPE, SIG_IGN) == SIG_ERR ? -1 : 0; }

}  // namespace tarmig
