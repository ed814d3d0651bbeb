#pragma once

#include <istream>
#include <string>

#include "migrator/RunOptions.h"

namespace tarmig {

// The master password from -password VALUE, -password - (standard input) or
// -passwordFile FILE. Returns "" and sets error when it cannot be had.
std::string masterPassword(const RunOptions& options, std::string& error);

// The first line of text, without its line end (LF or CR LF).
std::string firstLine(std::istream& in);

// Reads the master password from the first line of a file that only its owner
// may use, as ssh asks of a private key. Returns "" and sets error (an
// "Argument error: " line without its LF) when the file is open to group or
// others, cannot be read or holds no password.
std::string readPasswordFile(const std::string& path, std::string& error);

// Reads the master password from the first line of standard input; when that
// is a terminal it asks on standard error and does not echo what is typed.
std::string readPasswordFromStandardInput(std::string& error);

}  // namespace tarmig
