#pragma once

#include "imap/ConnectionInternal.h"
#include "support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <string>

namespace tarmig::testing {

// The LOGIN line of the user "u" with password "p", without its tag.
inline const std::string userLogin = "LOGIN \"u\" \"p\"\r\n";

// A connection of the user "u" with password "p" to a scripted peer.
inline void configure(ConnectionInternal& connection, const ScriptedPeer& peer) {
    connection.initialize("127.0.0.1", peer.port(), "u", "p", false, 5, false);
}

// Starts the peer and opens the connection to it, with the LOGIN when asked;
// the script's first step must send the greeting.
inline void openScripted(ConnectionInternal& connection, ScriptedPeer& peer, bool login) {
    peer.start();
    configure(connection, peer);
    connection.init(login);
}

// The text of the Failure that action raises, after checking its error code;
// "no exception" when nothing was raised.
template <class Failure, class Action>
std::string failureText(Action action, long errorCode) {
    try {
        action();
    } catch (const Failure& error) {
        EXPECT_EQ(error.errorCode(), errorCode);
        return error.what();
    }
    return "no exception";
}

// The text of the Failure that opening the connection raises.
template <class Failure>
std::string initFailure(ConnectionInternal& connection, bool login, long errorCode) {
    return failureText<Failure>([&] { connection.init(login); }, errorCode);
}

}  // namespace tarmig::testing
