#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

// Runs the built tarmig binary as a user would, in a chosen working directory.
namespace tarmig::testing {

struct ToolRun {
    int exitStatus = -1;
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs TARMIG_BINARY with the arguments in workDir. When removeWorkDir is set,
// the child removes its (empty) working directory before starting the tool, so
// no file can be created there, even by root. A run still going after ten
// minutes is killed (exit status 128 + SIGKILL).
ToolRun runTool(const std::vector<std::string>& args, const std::string& workDir, bool removeWorkDir = false);

// Runs the tool as runTool does, with `input` as its standard input.
ToolRun runToolWithInput(const std::vector<std::string>& args, const std::string& workDir, const std::string& input);

// Starts the tool in workDir with /dev/null as standard input and outputs,
// without waiting for it; returns its process id, for a test to signal and reap.
pid_t startTool(const std::vector<std::string>& args, const std::string& workDir);

// Files in dir whose names start with prefix and end with suffix.
std::vector<std::string> filesMatching(const std::string& dir, const std::string& prefix, const std::string& suffix);

}  // namespace tarmig::testing
