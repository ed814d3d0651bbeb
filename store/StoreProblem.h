#pragma once

#include <string>

namespace tarmig {

// Something of the store that the reader could not hand out and that does
// not stop it: the reader records it instead of writing it to its log, and
// the engine reports `line` on the console and in the log and fails the run.
struct StoreProblem {
    // What was lost, for the engine's counts.
    enum Loss { LostBytes, LostMessage, LostFolder };

    std::string line;  // the whole output line, "Error: ..." or "Warning: ...", with its LF
    Loss loss = LostBytes;
};

}  // namespace tarmig
