#pragma once

#include <ostream>

namespace tarmig {

// The program's version text, e.g. "9.0.4-T1-1154".
const char* getProductVersion();

// Usage text for -help, -? and a bare invocation.
void printHelp(std::ostream& out);

// The line that follows the title in the help text and in the run header.
extern const char* const productNotice;

}  // namespace tarmig
