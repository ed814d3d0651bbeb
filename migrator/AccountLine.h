#pragma once

#include <cstdint>
#include <ctime>
#include <string>

namespace tarmig {

class Mailbox;

// The size text of listings: bytes, or one decimal with KB, MB or GB.
std::string formatSize(std::int64_t size);
// The account's size text; a size that cannot be read counts as 0.
std::string accountSize(const Mailbox& mailbox);
// ", time: " + the time in ctime form, with its line end: the rest of the
// account line in the log. Safe beside other threads, as ctime is not.
std::string accountTime(std::time_t when);

}  // namespace tarmig
