#pragma once

#include <cstdint>
#include <string>

namespace tarmig {

// A size in bytes as listings show it: "512B", "1.5KB", "3.0MB", "1.2GB".
std::string sizeText(std::int64_t size);

}  // namespace tarmig
