// The loopback limit: a sink that discards what one TCP connection carries,
// and a sender that copies a file into it in large writes.
#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
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

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "sink") == 0) return sink();
    if (argc == 4 && std::strcmp(argv[1], "send") == 0) return send(static_cast<unsigned>(std::atoi(argv[2])), argv[3]);
    std::cerr << "usage: bench_net sink | bench_net send PORT FILE\n";
    return 2;
}
