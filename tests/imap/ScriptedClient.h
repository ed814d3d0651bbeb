#pragma once

#include "imap/SimpleImapClient.h"
#include "support/ScriptedPeer.h"

#include <gtest/gtest.h>

namespace tarmig::testing {

// A facade logged in with LOGIN "u" "p" (tag T0) to a scripted peer; each
// test adds its own steps after the login and then calls start().
class ScriptedClientTest : public ::testing::Test {
protected:
    static constexpr const char* loginLine = "T0 LOGIN \"u\" \"p\"\r\n";

    ScriptedClientTest() {
        peer.send("* OK ready\r\n").expect(loginLine).send("T0 OK logged in\r\n");
    }
    void TearDown() override { client.disconnect(false); }

    // Starts the peer and connects the client.
    void start() {
        peer.start();
        ASSERT_EQ(client.connect("127.0.0.1", peer.port(), "u", "p", false), SimpleImapClient::Ok);
    }
    // Waits for the script and returns what the client sent after its login.
    std::string sentAfterLogin() {
        EXPECT_EQ(peer.wait(), "");
        return peer.connection(0).substr(std::string(loginLine).size());
    }

    ScriptedPeer peer{std::chrono::seconds(5)};
    SimpleImapClient client{5};
};

}  // namespace tarmig::testing
