#pragma once

#include <ostream>
#include <string>

#include "store/CGException.h"

namespace tarmig {

// One item of the store failed: the "Error: " line and the exception that
// lets the walk skip the item carry the same text.
[[noreturn]] inline void reportStoreError(std::ostream& output, const std::string& text) {
    output << "Error: " << text << "\n";
    throw CGStoreException(text);
}

}  // namespace tarmig
