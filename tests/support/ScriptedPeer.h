#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/LoopbackSocket.h"

// A scripted server on a free 127.0.0.1 (or ::1) port for wire-exact client tests.
//
// Build the script, call start(), run the client against port(), then
// wait() and assert on received() / connection(i). Steps run in order on
// a server thread; the first connection is accepted before the first step.
//
//     ScriptedPeer peer;
//     peer.send("* OK ready\r\n").expect("T0 LOGIN \"u\" \"p\"\r\n")
//         .send("T0 OK done\r\n");
//     peer.start();
//     ... client connects to 127.0.0.1:peer.port() ...
//     EXPECT_EQ(peer.wait(), "");
//     EXPECT_EQ(peer.received(), "T0 LOGIN \"u\" \"p\"\r\n");
//
// Every byte the client sends is recorded, also after the last step, until
// the client closes or the peer is destroyed. A step that cannot complete
// (nothing to accept, expected text not seen within the step time-out)
// ends the script with an error text that wait() returns.
namespace tarmig::testing {

class ScriptedPeer {
public:
    explicit ScriptedPeer(std::chrono::milliseconds stepTimeout = std::chrono::seconds(10),
                          Loopback family = Loopback::V4);
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    unsigned port() const { return listenPort; }
    // A 127.0.0.1 port with nothing listening: connections to it are refused.
    static unsigned closedPort();

    // Sends these bytes to the client.
    ScriptedPeer& send(const std::string& bytes);
    // Reads until text appears in what the client sent on this connection
    // after the previous expect or read.
    ScriptedPeer& expect(const std::string& text);
    // Reads exactly count more bytes of the client's data.
    ScriptedPeer& readBytes(std::size_t count);
    // Reads (and records) until the client closes the connection.
    ScriptedPeer& expectClosed();
    // Does nothing for a while (the client sees a silent server).
    ScriptedPeer& stall(std::chrono::milliseconds duration);
    // Closes the current connection (the client sees end of input).
    ScriptedPeer& closeConnection();
    // Closes the current connection with a reset: the client's next write fails.
    ScriptedPeer& resetConnection();
    // Accepts the next connection (closing the current one if still open);
    // later steps run on it.
    ScriptedPeer& acceptNext();

    void start();
    // Waits until every step ran; returns "" or the error that ended the script.
    std::string wait();
    // Waits until the first count steps ran (or the script ended), so a test
    // can act on the client at a known point of the script.
    void waitForSteps(std::size_t count);

    // Everything the client sent, over all connections, in order.
    std::string received() const;
    // What the client sent on the index-th accepted connection (from 0).
    std::string connection(std::size_t index) const;
    std::size_t connectionCount() const;

private:
    struct Step {
        enum Kind { Send, Expect, Read, ExpectClosed, Stall, Close, Reset, Accept } kind;
        std::string text;
        std::size_t count = 0;
        std::chrono::milliseconds duration{0};
    };

    void run();
    bool runStep(const Step& step);
    bool acceptConnection();
    enum ReadResult { Data, Closed, TimedOut };
    ReadResult readSome(std::chrono::steady_clock::time_point deadline);
    void drain();
    void closeClient(bool reset);
    void fail(const std::string& message);

    std::chrono::milliseconds stepTimeout;
    int listenSocket = -1;
    unsigned listenPort = 0;
    int clientSocket = -1;
    std::vector<Step> steps;
    std::thread thread;
    std::atomic<bool> stopping{false};

    mutable std::mutex mutex;
    std::condition_variable progress;
    std::size_t stepsDone = 0;
    bool finished = false;
    std::string error;
    std::vector<std::string> connections;
    std::size_t cursor = 0;  // read position in the current connection's bytes
};

}  // namespace tarmig::testing
