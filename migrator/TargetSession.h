#pragma once

#include <ostream>
#include <string>

#include "imap/SimpleImapClient.h"

namespace tarmig {

struct JobSettings;

// Writes the log line and ends the run (CGNetworkException with text).
[[noreturn]] void failNetwork(std::ostream& log, const std::string& logLine, const std::string& text);
// A result nobody expected: "Error: unspecified Imap error " + its number.
[[noreturn]] void failUnexpected(std::ostream& log, SimpleImapClient::ImapClientResult result);
// The results every command on an open session can end with: a session that
// is gone (its log line starts "Error: " or "Network Error: ", both are in
// use), a broken connection (reported as "cannot " + what) and anything
// nobody expected. All of them end the run.
[[noreturn]] void failSession(std::ostream& log, SimpleImapClient::ImapClientResult result, const std::string& what,
                              const std::string& notConnectedPrefix = "Network Error: ");

// Connects the client to the target and logs in as the master, then logs
// out again when logoutAfterwards is set (the per-domain check). Every
// failure ends the run (CGNetworkException).
void connectMaster(SimpleImapClient& client, const JobSettings& settings, std::ostream& log, bool logoutAfterwards);

}  // namespace tarmig
