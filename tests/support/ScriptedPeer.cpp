#include "support/ScriptedPeer.h"

#include "support/LoopbackSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

namespace tarmig::testing {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto slice = std::chrono::milliseconds(20);

// Polls in short slices so that a destroyed peer stops promptly.
bool pollReadable(int socket, Clock::time_point deadline, const std::atomic<bool>& stopping) {
    while (!stopping) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd entry{socket, POLLIN, 0};
        const int result = poll(&entry, 1, static_cast<int>(std::min(left, slice).count()));
        if (result > 0) {
            return true;
        }
        if (result < 0 && errno != EINTR) {
            return false;
        }
    }
    return false;
}

}  // namespace

ScriptedPeer::ScriptedPeer(std::chrono::milliseconds stepTimeout, Loopback family) : stepTimeout(stepTimeout) {
    listenSocket = listenOnLoopback(8, listenPort, family);
    if (listenSocket < 0) {
        throw std::runtime_error("ScriptedPeer: cannot listen on loopback");
    }
}

unsigned ScriptedPeer::closedPort() { return freeLoopbackPort(); }

ScriptedPeer::~ScriptedPeer() {
    stopping = true;
    if (thread.joinable()) {
        thread.join();
    }
    closeClient(false);
    ::close(listenSocket);
}

ScriptedPeer& ScriptedPeer::send(const std::string& bytes) {
    steps.push_back({Step::Send, bytes, 0, {}});
    return *this;
}

ScriptedPeer& ScriptedPeer::expect(const std::string& text) {
    steps.push_back({Step::Expect, text, 0, {}});
    return *this;
}

ScriptedPeer& ScriptedPeer::readBytes(std::size_t count) {
    steps.push_back({Step::Read, {}, count, {}});
    return *this;
}

ScriptedPeer& ScriptedPeer::expectClosed() {
    steps.push_back({Step::ExpectClosed, {}, 0, {}});
    return *this;
}

ScriptedPeer& ScriptedPeer::stall(std::chrono::milliseconds duration) {
    steps.push_back({Step::Stall, {}, 0, duration});
    return *this;
}

ScriptedPeer& ScriptedPeer::closeConnection() {
    steps.push_back({Step::Close, {}, 0, {}});
    return *this;
}

ScriptedPeer& ScriptedPeer::resetConnection() {
    steps.push_back({Step::Reset, {}, 0, {}});
    return *this;
}

ScriptedPeer& ScriptedPeer::acceptNext() {
    steps.push_back({Step::Accept, {}, 0, {}});
    return *this;
}

void ScriptedPeer::start() { thread = std::thread(&ScriptedPeer::run, this); }

std::string ScriptedPeer::wait() {
    std::unique_lock lock(mutex);
    progress.wait(lock, [this] { return finished; });
    return error;
}

void ScriptedPeer::waitForSteps(std::size_t count) {
    std::unique_lock lock(mutex);
    progress.wait(lock, [this, count] { return finished || stepsDone >= count; });
}

std::string ScriptedPeer::received() const {
    std::lock_guard lock(mutex);
    std::string all;
    for (const std::string& bytes : connections) {
        all += bytes;
    }
    return all;
}

std::string ScriptedPeer::connection(std::size_t index) const {
    std::lock_guard lock(mutex);
    return index < connections.size() ? connections[index] : std::string();
}

std::size_t ScriptedPeer::connectionCount() const {
    std::lock_guard lock(mutex);
    return connections.size();
}

void ScriptedPeer::run() {
    bool ok = acceptConnection();
    for (const Step& step : steps) {
        if (!ok) {
            break;
        }
        ok = runStep(step);
        std::lock_guard lock(mutex);
        ++stepsDone;
        progress.notify_all();
    }
    {
        std::lock_guard lock(mutex);
        finished = true;
        progress.notify_all();
    }
    if (ok) {
        drain();
    }
}

bool ScriptedPeer::runStep(const Step& step) {
    const auto deadline = Clock::now() + stepTimeout;
    switch (step.kind) {
    case Step::Send: {
        std::size_t offset = 0;
        while (offset < step.text.size()) {
            const ssize_t sent = ::send(clientSocket, step.text.data() + offset,
                                        step.text.size() - offset, MSG_NOSIGNAL);
            if (sent <= 0) {
                fail("could not send " + step.text.substr(0, 60));
                return false;
            }
            offset += static_cast<std::size_t>(sent);
        }
        return true;
    }
    case Step::Expect:
        for (;;) {
            {
                std::lock_guard lock(mutex);
                const std::string& bytes = connections.back();
                const auto found = bytes.find(step.text, cursor);
                if (found != std::string::npos) {
                    cursor = found + step.text.size();
                    return true;
                }
            }
            if (readSome(deadline) != Data) {
                fail("expected text not received: " + step.text.substr(0, 200) +
                     "\nreceived on this connection: " + connection(connections.size() - 1));
                return false;
            }
        }
    case Step::Read:
        for (;;) {
            {
                std::lock_guard lock(mutex);
                if (connections.back().size() - cursor >= step.count) {
                    cursor += step.count;
                    return true;
                }
            }
            if (readSome(deadline) != Data) {
                fail("fewer bytes than expected arrived");
                return false;
            }
        }
    case Step::ExpectClosed:
        for (;;) {
            const ReadResult result = readSome(deadline);
            if (result == Closed) {
                closeClient(false);
                return true;
            }
            if (result == TimedOut) {
                fail("the client did not close the connection");
                return false;
            }
        }
    case Step::Stall: {
        const auto end = Clock::now() + step.duration;
        while (!stopping && Clock::now() < end) {
            std::this_thread::sleep_for(std::min<Clock::duration>(slice, end - Clock::now()));
        }
        return true;
    }
    case Step::Close:
    case Step::Reset:
        closeClient(step.kind == Step::Reset);
        return true;
    case Step::Accept:
        closeClient(false);
        return acceptConnection();
    }
    return false;
}

bool ScriptedPeer::acceptConnection() {
    if (!pollReadable(listenSocket, Clock::now() + stepTimeout, stopping)) {
        fail("no connection to accept");
        return false;
    }
    clientSocket = ::accept4(listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (clientSocket < 0) {
        fail("accept failed");
        return false;
    }
    std::lock_guard lock(mutex);
    connections.emplace_back();
    cursor = 0;
    return true;
}

ScriptedPeer::ReadResult ScriptedPeer::readSome(Clock::time_point deadline) {
    if (clientSocket < 0 || !pollReadable(clientSocket, deadline, stopping)) {
        return TimedOut;
    }
    char buffer[65536];
    const ssize_t count = ::recv(clientSocket, buffer, sizeof buffer, 0);
    if (count <= 0) {
        return Closed;
    }
    std::lock_guard lock(mutex);
    connections.back().append(buffer, static_cast<std::size_t>(count));
    return Data;
}

void ScriptedPeer::drain() {
    while (!stopping && clientSocket >= 0) {
        if (readSome(Clock::now() + std::chrono::seconds(1)) == Closed) {
            closeClient(false);
        }
    }
}

void ScriptedPeer::closeClient(bool reset) {
    if (clientSocket < 0) {
        return;
    }
    if (reset) {
        const linger abort{1, 0};
        setsockopt(clientSocket, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    ::close(clientSocket);
    clientSocket = -1;
}

void ScriptedPeer::fail(const std::string& message) {
    closeClient(false);
    std::lock_guard lock(mutex);
    error = message;
}

}  // namespace tarmig::testing
