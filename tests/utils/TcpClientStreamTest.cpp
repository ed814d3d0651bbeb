#include "utils/CantResolveException.h"
#include "utils/InetSocketAddress.h"
#include "utils/TcpClientIOStream.h"

#include "support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using tarmig::testing::ScriptedPeer;
using zenqa::utils::basic_tcpclientiostream;
using zenqa::utils::InetSocketAddress;

std::unique_ptr<basic_tcpclientiostream> connectTo(const ScriptedPeer& peer) {
    auto stream = std::make_unique<basic_tcpclientiostream>(
        InetSocketAddress("imap://127.0.0.1:" + std::to_string(peer.port())),
        InetSocketAddress::any(), 4096, 4096);
    stream->create();
    return stream;
}

TEST(TcpClientStreamTest, AddressesFromUrls) {
    const InetSocketAddress full("imap://user:pw@127.0.0.1:1143/path?q#r");
    EXPECT_EQ(full.getHostName(), "127.0.0.1");
    EXPECT_EQ(full.getPort(), 1143u);
    const InetSocketAddress named("imap://localhost:143");
    EXPECT_EQ(named.getHostName(), "localhost");
    const auto& found = named.getAddresses();
    EXPECT_TRUE(std::any_of(found.begin(), found.end(), [](auto& a) { return a.addressText() == "127.0.0.1"; }));
    EXPECT_EQ(InetSocketAddress::any().getPort(), 0u);
}

TEST(TcpClientStreamTest, UnresolvableHostNamesTheHost) {
    // A label longer than 63 bytes fails before any query is sent.
    const std::string host = std::string(70, 'a') + ".invalid";
    try {
        InetSocketAddress address("imap://" + host + ":143");
        FAIL() << "resolved";
    } catch (const zenqa::utils::CantResolveException& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.rfind("Cant resolve host: " + host + " (error ", 0), 0u) << text;
        EXPECT_EQ(text.back(), ')');
    }
}

TEST(TcpClientStreamTest, PendingOutputIsSentBeforeEachRead) {
    ScriptedPeer peer;
    peer.expect("A1 NOOP\r\n").send("A1 OK\r\n").expect("A2 ").send("A2 OK\r\n");
    peer.start();
    auto stream = connectTo(peer);
    ASSERT_TRUE(stream->good());
    EXPECT_TRUE(stream->isConnected());
    *stream << "A1 NOOP\r\n";  // no flush
    std::string line;
    ASSERT_TRUE(std::getline(*stream, line));
    EXPECT_EQ(line, "A1 OK\r");
    *stream << "A2 ";
    ASSERT_TRUE(std::getline(*stream, line));
    EXPECT_EQ(line, "A2 OK\r");
    EXPECT_EQ(peer.wait(), "");
}

TEST(TcpClientStreamTest, LargeWritesArriveWholeAndInOrder) {
    std::string big(200000, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 7);
    }
    ScriptedPeer peer;
    peer.readBytes(3 + big.size() + 3).send("done\n");
    peer.start();
    auto stream = connectTo(peer);
    *stream << "abc";
    stream->write(big.data(), static_cast<std::streamsize>(big.size()));
    *stream << "def";
    stream->flush();
    ASSERT_TRUE(stream->good());
    std::string line;
    ASSERT_TRUE(std::getline(*stream, line));
    EXPECT_EQ(peer.wait(), "");
    EXPECT_EQ(peer.received(), "abc" + big + "def");
}

TEST(TcpClientStreamTest, WriteCutShortByTheSendTimeoutResumesWhereItStopped) {
    // More than the socket buffers hold: while the peer is silent, the send
    // time-out ends the first system call partway through the block.
    std::string big(32 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>(i * 13 + i / 4096);
    }
    ScriptedPeer peer;
    peer.stall(std::chrono::milliseconds(700)).readBytes(5 + big.size()).send("done\n");
    peer.start();
    auto stream = connectTo(peer);
    stream->setTimeoutInSeconds(0);
    stream->setTimeoutInuSeconds(400000);
    *stream << "head:";
    stream->write(big.data(), static_cast<std::streamsize>(big.size()));
    ASSERT_TRUE(stream->good());
    std::string line;
    stream->setTimeoutInSeconds(10);
    ASSERT_TRUE(std::getline(*stream, line));
    EXPECT_EQ(peer.wait(), "");
    EXPECT_TRUE(peer.received() == "head:" + big);
}

TEST(TcpClientStreamTest, ReadTimeoutLooksLikeEndOfInput) {
    ScriptedPeer peer;
    peer.stall(std::chrono::milliseconds(600)).send("late\n");
    peer.start();
    auto stream = connectTo(peer);
    stream->setTimeoutInSeconds(0);
    stream->setTimeoutInuSeconds(200000);
    std::string line;
    EXPECT_FALSE(std::getline(*stream, line));
    EXPECT_TRUE(stream->eof());
    EXPECT_EQ(stream->getSocketState(), 0);

    // Zero waits without limit: the late line arrives.
    stream->clear();
    stream->setTimeoutInuSeconds(0);
    ASSERT_TRUE(std::getline(*stream, line));
    EXPECT_EQ(line, "late");
}

TEST(TcpClientStreamTest, PeerClosingGivesEndOfInput) {
    ScriptedPeer peer;
    peer.send("partial").closeConnection();
    peer.start();
    auto stream = connectTo(peer);
    std::string line;
    std::getline(*stream, line);
    EXPECT_EQ(line, "partial");
    EXPECT_TRUE(stream->eof());
}

TEST(TcpClientStreamTest, LinesAreReadWholeAcrossReadsAndBufferRefills) {
    const std::string wide(10000, 'w');  // more than the 4096-byte input buffer
    ScriptedPeer peer;
    peer.send("fir")
        .stall(std::chrono::milliseconds(50))
        .send("st\r\n" + wide + "\n\n" + std::string(4096, 'x'))
        .stall(std::chrono::milliseconds(50))
        .send("y\nno line end")
        .closeConnection();
    peer.start();
    auto stream = connectTo(peer);
    std::string line;
    ASSERT_TRUE(stream->getLine(line, 16));
    EXPECT_EQ(line, "first\r");
    line.clear();
    ASSERT_TRUE(stream->getLine(line, wide.size()));
    EXPECT_TRUE(line == wide);
    line.clear();
    ASSERT_TRUE(stream->getLine(line, 0));
    EXPECT_EQ(line, "");
    line.clear();
    ASSERT_TRUE(stream->getLine(line, 8192));
    EXPECT_TRUE(line == std::string(4096, 'x') + "y");
    EXPECT_TRUE(stream->good());
    // The input ends inside a line: what came is the line, then nothing is.
    line.clear();
    ASSERT_TRUE(stream->getLine(line, 100));
    EXPECT_EQ(line, "no line end");
    EXPECT_TRUE(stream->eof());
    EXPECT_FALSE(stream->fail());
    line.clear();
    stream->getLine(line, 100);
    EXPECT_EQ(line, "");
    EXPECT_TRUE(stream->fail());
    EXPECT_EQ(peer.wait(), "");
}

TEST(TcpClientStreamTest, LineLongerThanTheLimitIsRefused) {
    ScriptedPeer peer;
    peer.send("12345678\n123456789\n").stall(std::chrono::milliseconds(200));
    peer.start();
    auto stream = connectTo(peer);
    std::string line;
    EXPECT_TRUE(stream->getLine(line, 8));
    EXPECT_EQ(line, "12345678");
    line.clear();
    EXPECT_FALSE(stream->getLine(line, 8));
    EXPECT_LE(line.size(), 8u);
}

TEST(TcpClientStreamTest, FailuresSetTheFailBit) {
    basic_tcpclientiostream never(InetSocketAddress("127.0.0.1", 1), InetSocketAddress::any(),
                                  4096, 4096);
    never.close();
    EXPECT_TRUE(never.fail());
    EXPECT_FALSE(never.isConnected());

    basic_tcpclientiostream refused(InetSocketAddress("127.0.0.1", ScriptedPeer::closedPort()),
                                    InetSocketAddress::any(), 4096, 4096);
    refused.create();
    EXPECT_TRUE(refused.fail());
    EXPECT_FALSE(refused.isConnected());
}

}  // namespace
