#pragma once

#include <ctime>
#include <fstream>
#include <string>

namespace tarmig {

// "YYYY-MM-DD_hh-mm-ss" in local time; names the run's log and password files.
std::string formatRunStamp(std::time_t when);

// Creates or truncates a file readable by its owner only (it holds passwords
// and account names) and opens it for binary output.
bool openPrivateFile(std::ofstream& file, const std::string& path);

// The host's node name (at most 1023 characters), "unspecified.host" when unknown.
std::string getHostname();

// Process-wide network set-up: a peer that closes its end must not kill the
// run with SIGPIPE. Returns 0 on success.
int initSockets();

}  // namespace tarmig
