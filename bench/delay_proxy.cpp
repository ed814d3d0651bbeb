// A TCP relay on loopback that holds every byte for a fixed time in each
// direction, as a link of that one-way latency would, without limiting the
// rate: what arrives is stamped and written on when its time has come, while
// reading goes on. Also measures itself: the round trip through it and the
// rate of a bulk transfer.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t chunkSize = 256 * 1024;

sockaddr_in loopback(unsigned port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}

void noDelay(int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// A listening socket on a free loopback port; port gets its number.
int listenAny(unsigned& port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr = loopback(0);
    socklen_t len = sizeof addr;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 16) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("listen");
        std::exit(1);
    }
    port = ntohs(addr.sin_port);
    return fd;
}

int connectTo(unsigned port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = loopback(port);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0) close(fd);
        return -1;
    }
    noDelay(fd);
    return fd;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// One direction: a reader stamps what arrives, a writer sends it on when due.
// An empty chunk marks the end of input, passed on as a half close.
class Direction {
public:
    Direction(int from, int to, Clock::duration delay) : from(from), to(to), delay(delay) {}

    void run() {
        std::thread writer([this] { writeLoop(); });
        std::vector<char> buffer(chunkSize);
        for (;;) {
            ssize_t n = read(from, buffer.data(), buffer.size());
            std::lock_guard<std::mutex> lock(mutex);
            queue.push_back({Clock::now() + delay, std::string(buffer.data(), n > 0 ? static_cast<std::size_t>(n) : 0)});
            ready.notify_one();
            if (n <= 0) break;
        }
        writer.join();
    }

private:
    struct Chunk {
        Clock::time_point due;
        std::string data;
    };

    void writeLoop() {
        for (;;) {
            Chunk chunk;
            {
                std::unique_lock<std::mutex> lock(mutex);
                ready.wait(lock, [this] { return !queue.empty(); });
                chunk = std::move(queue.front());
                queue.pop_front();
            }
            std::this_thread::sleep_until(chunk.due);
            if (chunk.data.empty() || !writeAll(to, chunk.data.data(), chunk.data.size())) {
                shutdown(to, SHUT_WR);
                shutdown(from, SHUT_RD);
                return;
            }
        }
    }

    int from, to;
    Clock::duration delay;
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<Chunk> queue;
};

void relay(int client, unsigned targetPort, Clock::duration delay) {
    noDelay(client);
    int server = connectTo(targetPort);
    if (server < 0) {
        close(client);
        return;
    }
    Direction up(client, server, delay), down(server, client, delay);
    std::thread upThread([&] { up.run(); });
    down.run();
    upThread.join();
    close(server);
    close(client);
}

// Relays every connection of the listener until killed.
[[noreturn]] void serve(int listener, unsigned targetPort, Clock::duration delay) {
    for (;;) {
        int client = accept(listener, nullptr, nullptr);
        if (client >= 0) std::thread(relay, client, targetPort, delay).detach();
    }
}

// Echoes one byte per read (round trips) or counts bytes (bulk), per connection.
void echoServer(int listener) {
    for (;;) {
        int fd = accept(listener, nullptr, nullptr);
        if (fd < 0) continue;
        noDelay(fd);
        std::thread([fd] {
            std::vector<char> buffer(chunkSize);
            char mode = 0;
            if (read(fd, &mode, 1) != 1) return;
            std::uint64_t total = 0;
            for (ssize_t n; (n = read(fd, buffer.data(), buffer.size())) > 0;) {
                if (mode == 'e' && !writeAll(fd, buffer.data(), static_cast<std::size_t>(n))) break;
                total += static_cast<std::uint64_t>(n);
            }
            if (mode == 'b') writeAll(fd, reinterpret_cast<const char*>(&total), sizeof total);
            close(fd);
        }).detach();
    }
}

int check(Clock::duration delay) {
    unsigned echoPort = 0, proxyPort = 0;
    int echoListener = listenAny(echoPort);
    std::thread(echoServer, echoListener).detach();
    int proxyListener = listenAny(proxyPort);
    std::thread([=] { serve(proxyListener, echoPort, delay); }).detach();

    int fd = connectTo(proxyPort);
    if (fd < 0 || !writeAll(fd, "e", 1)) return 1;
    constexpr int trips = 200;
    char byte = 'x';
    auto start = Clock::now();
    for (int i = 0; i < trips; ++i) {
        if (!writeAll(fd, &byte, 1) || read(fd, &byte, 1) != 1) return 1;
    }
    double rtt = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / trips;
    close(fd);

    fd = connectTo(proxyPort);
    if (fd < 0 || !writeAll(fd, "b", 1)) return 1;
    constexpr std::uint64_t bulk = 512ULL << 20;
    std::vector<char> buffer(1 << 20, 'b');
    start = Clock::now();
    for (std::uint64_t sent = 0; sent < bulk; sent += buffer.size())
        if (!writeAll(fd, buffer.data(), buffer.size())) return 1;
    shutdown(fd, SHUT_WR);
    std::uint64_t received = 0;
    if (read(fd, &received, sizeof received) != sizeof received || received != bulk) return 1;
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    close(fd);
    std::printf("rtt_ms %.3f bulk_MBps %.0f\n", rtt, static_cast<double>(bulk) / 1e6 / seconds);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "relay" && argc == 4) {
        const auto oneWay = std::chrono::microseconds(std::atol(argv[3]));
        unsigned port = 0;
        int listener = listenAny(port);
        std::cout << "port " << port << std::endl;
        serve(listener, static_cast<unsigned>(std::atoi(argv[2])), oneWay);
    }
    if (mode == "check" && argc == 3) return check(std::chrono::microseconds(std::atol(argv[2])));
    std::cerr << "usage: bench_delay relay TARGET_PORT ONE_WAY_MICROSECONDS   (prints \"port N\", serves until killed)\n"
                 "       bench_delay check ONE_WAY_MICROSECONDS               (prints the round trip and bulk rate)\n";
    return 2;
}
