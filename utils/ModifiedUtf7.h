#pragma once

#include <optional>
#include <string>

namespace zenqa::mail {

// An IMAP mailbox name (modified UTF-7, RFC 3501 5.1.3) for a name held as
// UTF-8: printable ASCII stands for itself, "&" becomes "&-", and every run
// of other characters (controls and everything beyond ASCII) goes as "&",
// the UTF-16 of the run in base64 with "," for "/" and no padding, and "-".
// Characters beyond the 16-bit plane become surrogate pairs.
//
// None when `name` is not well-formed UTF-8 (a stray or missing continuation
// byte, an overlong form, a surrogate, a value above U+10FFFF): such bytes
// name no characters, and guessing a character set would give the folder a
// name nobody chose, so the caller refuses the name instead.
std::optional<std::string> utf8ToModifiedUtf7(const std::string& name);

// The UTF-8 name of a modified UTF-7 mailbox name, the inverse of the
// above; none when `name` is not valid modified UTF-7 (an unclosed or empty
// shift, a "&" run that encodes printable ASCII, a bad base64 character or
// leftover bits, an unpaired surrogate, a byte above 0x7e).
std::optional<std::string> modifiedUtf7ToUtf8(const std::string& name);

}  // namespace zenqa::mail
