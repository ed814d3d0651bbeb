#pragma once

#include <chrono>
#include <string>

// Reading what a child under a pseudo-terminal shows.
namespace tarmig::testing {

// Appends what the terminal shows to `shown` until `until` appears in it
// (empty: until the child closes the terminal), or `limit` passes.
void readTerminal(int fd, std::string& shown, const std::string& until, std::chrono::seconds limit);

}  // namespace tarmig::testing
