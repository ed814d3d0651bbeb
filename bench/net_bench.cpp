// The loopback limit: a sink that discards what one TCP connection carries,
// and a sender that copies a file into it in large writes. Also a raw IMAP
// client that pipelines X-APPENDs over one or several connections, to show
// how fast a test server can take them, and one that appends from memory,
// one at a time or pipelined: the least a client can spend, and the most a
// server takes.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <filesystem>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iostream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr std::size_t bufferSize = 1 << 20;

sockaddr_in loopback(unsigned port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

// Serves connections one after another until killed; prints its port first.
int sink() {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    if (listener < 0 || bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener, 4) != 0 || getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("sink");
        return 1;
    }
    std::cout << "port " << ntohs(addr.sin_port) << std::endl;
    std::vector<char> buffer(bufferSize);
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        while (read(fd, buffer.data(), buffer.size()) > 0) {
        }
        close(fd);
    }
}

int send(unsigned port, const std::string& path) {
    int in = open(path.c_str(), O_RDONLY);
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(port);
    if (in < 0 || fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("send");
        return 1;
    }
    std::vector<char> buffer(bufferSize);
    long long total = 0;
    for (;;) {
        ssize_t n = read(in, buffer.data(), buffer.size());
        if (n <= 0) break;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(fd, buffer.data() + done, static_cast<size_t>(n - done));
            if (w <= 0) {
                std::perror("write");
                return 1;
            }
            done += w;
        }
        total += n;
    }
    close(fd);
    close(in);
    std::cout << "sent " << total << "\n";
    return 0;
}

bool writeAll(int fd, const std::string& data) {
    for (std::size_t done = 0; done < data.size();) {
        ssize_t w = write(fd, data.data() + done, data.size() - done);
        if (w <= 0) return false;
        done += static_cast<std::size_t>(w);
    }
    return true;
}

// Reads whole lines until `count` tagged completions arrived; false on EOF or a failure.
bool readCompletions(int fd, std::string& pending, long count) {
    char buffer[65536];
    while (count > 0) {
        std::size_t lf;
        while (count > 0 && (lf = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, lf);
            pending.erase(0, lf + 1);
            if (line.empty() || line[0] == '*') continue;
            if (line.find(" OK") == std::string::npos) {
                std::cerr << "server: " << line << "\n";
                return false;
            }
            --count;
        }
        if (count == 0) break;
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return false;
        pending.append(buffer, static_cast<std::size_t>(n));
    }
    return true;
}

std::vector<std::filesystem::path> folderFiles(const std::string& dir) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// A connection logged in with LOGIN, or -1.
int logIn(unsigned port, const std::string& user, const std::string& password, std::string& pending) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(port);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::perror("connect");
        return -1;
    }
    if (!writeAll(fd, "L LOGIN \"" + user + "\" \"" + password + "\"\r\n") || !readCompletions(fd, pending, 1)) {
        std::cerr << "login failed\n";
        return -1;
    }
    return fd;
}

// Appends every `step`-th file of a Maildir folder from `first` on, over its
// own logged-in connection, keeping `window` X-APPENDs in flight. Counts into
// `appended`; false on any failure.
bool blastShare(unsigned port, const std::string& user, const std::string& password,
                const std::vector<std::filesystem::path>& files, std::size_t first, std::size_t step,
                long& appended) {
    std::string pending;
    int fd = logIn(port, user, password, pending);
    if (fd < 0) return false;
    const long window = 32;
    long inFlight = 0, tag = 0;
    for (std::size_t i = first; i < files.size(); i += step) {
        const auto& file = files[i];
        std::string head = "A";
        head += std::to_string(tag++) + " X-APPEND \"INBOX\" (\\Seen) \"20-Feb-2004 12:34:56 +0000\" {";
        auto size = static_cast<std::size_t>(std::filesystem::file_size(file));
        head += std::to_string(size) + "+}\r\n";
        // One buffer per command, read straight from the file: the probe itself stays cheap.
        std::string command(head.size() + size + 2, '\0');
        head.copy(command.data(), head.size());
        int in = open(file.c_str(), O_RDONLY);
        ssize_t got = in < 0 ? -1 : read(in, command.data() + head.size(), size);
        if (in >= 0) close(in);
        if (got != static_cast<ssize_t>(size)) {
            std::cerr << "cannot read " << file << "\n";
            return false;
        }
        command.replace(head.size() + size, 2, "\r\n");
        if (!writeAll(fd, command)) return false;
        ++appended;
        if (++inFlight == window) {
            if (!readCompletions(fd, pending, window / 2)) return false;
            inFlight -= window / 2;
        }
    }
    if (!readCompletions(fd, pending, inFlight)) return false;
    writeAll(fd, "Z LOGOUT\r\n");
    close(fd);
    return true;
}

// Appends every file of a Maildir folder over `connections` connections at
// once, the files dealt round them, each connection in its own thread.
int blast(unsigned port, const std::string& user, const std::string& password, const std::string& dir,
          std::size_t connections) {
    std::vector<std::filesystem::path> files = folderFiles(dir);
    std::vector<long> appended(connections, 0);
    std::vector<char> ok(connections, 0);
    std::vector<std::thread> threads;
    for (std::size_t k = 0; k < connections; ++k)
        threads.emplace_back([&, k] { ok[k] = blastShare(port, user, password, files, k, connections, appended[k]); });
    for (auto& thread : threads) thread.join();
    long total = 0;
    for (std::size_t k = 0; k < connections; ++k) {
        if (!ok[k]) return 1;
        total += appended[k];
    }
    long long bytes = 0;
    for (const auto& file : files) bytes += static_cast<long long>(std::filesystem::file_size(file));
    std::cout << "appended " << total << " bytes " << bytes << "\n";
    return 0;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Reads every file of a Maildir folder into ready APPEND commands (bare LF
// made CR LF, LITERAL+ literals), logs in, selects INBOX, then appends them
// keeping up to `window` in flight (1: each waits for its answer). Only that
// loop is timed ("loop"), so it shows the network's and the server's share
// of a client's cost, with nothing of reading a store: with a wide window,
// the most the server takes from one connection. "session" adds the login,
// SELECT and LOGOUT around it, which a whole client run also pays.
int appendFromMemory(unsigned port, const std::string& user, const std::string& password, const std::string& dir,
                     long window) {
    std::vector<std::string> commands;
    long long total = 0;
    for (const auto& file : folderFiles(dir)) {
        std::ifstream in(file, std::ios::binary);
        std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string data;
        data.reserve(raw.size() + raw.size() / 16);
        for (std::size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '\n' && (i == 0 || raw[i - 1] != '\r')) data += '\r';
            data += raw[i];
        }
        total += static_cast<long long>(raw.size());
        // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on chained + here.
        std::string command = "A";
        command += std::to_string(commands.size());
        command += " APPEND \"INBOX\" (\\Seen) \"20-Feb-2004 12:34:56 +0000\" {";
        command += std::to_string(data.size());
        command += "+}\r\n";
        command += data;
        command += "\r\n";
        commands.push_back(std::move(command));
    }
    std::string pending;
    const auto sessionStart = std::chrono::steady_clock::now();
    const double sessionCpuStart = cpuSeconds();
    int fd = logIn(port, user, password, pending);
    if (fd < 0 || !writeAll(fd, "S SELECT \"INBOX\"\r\n") || !readCompletions(fd, pending, 1)) return 1;
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    const double cpuStart = cpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    long inFlight = 0;
    for (const std::string& command : commands) {
        if (!writeAll(fd, command)) return 1;
        if (++inFlight == window) {
            if (!readCompletions(fd, pending, 1)) return 1;
            --inFlight;
        }
    }
    if (!readCompletions(fd, pending, inFlight)) return 1;
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    const double cpu = cpuSeconds() - cpuStart;
    if (!writeAll(fd, "Z LOGOUT\r\n") || !readCompletions(fd, pending, 1)) return 1;
    close(fd);
    const double session = std::chrono::duration<double>(std::chrono::steady_clock::now() - sessionStart).count();
    std::cout << "appended " << commands.size() << " bytes " << total << "\nloop " << wall << " " << cpu
              << "\nsession " << session << " " << cpuSeconds() - sessionCpuStart << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    auto port = [&] { return static_cast<unsigned>(std::atoi(argv[2])); };
    if (argc == 2 && mode == "sink") return sink();
    if (argc == 4 && mode == "send") return send(port(), argv[3]);
    if ((argc == 6 || argc == 7) && mode == "blast") {
        const long connections = argc == 7 ? std::atol(argv[6]) : 1;
        if (connections > 0) return blast(port(), argv[3], argv[4], argv[5], static_cast<std::size_t>(connections));
    }
    if (argc == 6 && mode == "sync") return appendFromMemory(port(), argv[3], argv[4], argv[5], 1);
    if (argc == 7 && mode == "pipe" && std::atol(argv[6]) > 0)
        return appendFromMemory(port(), argv[3], argv[4], argv[5], std::atol(argv[6]));
    std::cerr << "usage: bench_net sink\n"
                 "       bench_net send PORT FILE\n"
                 "       bench_net blast PORT USER PASSWORD MAILDIR_FOLDER [CONNECTIONS]\n"
                 "       bench_net sync PORT USER PASSWORD MAILDIR_FOLDER\n"
                 "       bench_net pipe PORT USER PASSWORD MAILDIR_FOLDER WINDOW\n";
    return 2;
}
