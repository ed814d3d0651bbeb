#include "support/RunTool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <stdexcept>
#include <thread>

#include "support/StoreBuilder.h"

namespace tarmig::testing {

namespace {

// Standard input is /dev/null unless inputPath names a file.
ToolRun runWithInputFile(const std::vector<std::string>& args, const std::string& workDir, bool removeWorkDir,
                        const std::string& inputPath) {
    TempDir capture;
    std::string outPath = capture.path() + "/out", errPath = capture.path() + "/err";
    std::vector<std::string> argvText{TARMIG_BINARY};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = ::open(inputPath.empty() ? "/dev/null" : inputPath.c_str(), O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || dup2(in, 0) < 0) _exit(126);
        if (chdir(workDir.c_str()) != 0) _exit(126);
        if (removeWorkDir && rmdir(workDir.c_str()) != 0) _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    // A tool that hangs must fail its test, not stall the whole suite: the
    // longest legitimate run waits out a few 180-second network time-outs.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(600);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ToolRun run;
    run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = readFile(outPath);
    run.err = readFile(errPath);
    return run;
}

}  // namespace

ToolRun runTool(const std::vector<std::string>& args, const std::string& workDir, bool removeWorkDir) {
    return runWithInputFile(args, workDir, removeWorkDir, "");
}

ToolRun runToolWithInput(const std::vector<std::string>& args, const std::string& workDir, const std::string& input) {
    TempDir inputDir;
    writeFile(inputDir.path() + "/input", input);
    return runWithInputFile(args, workDir, false, inputDir.path() + "/input");
}

pid_t startTool(const std::vector<std::string>& args, const std::string& workDir) {
    std::vector<std::string> argvText{TARMIG_BINARY};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int null = ::open("/dev/null", O_RDWR);
        if (null < 0 || dup2(null, 0) < 0 || dup2(null, 1) < 0 || dup2(null, 2) < 0 || chdir(workDir.c_str()) != 0)
            _exit(126);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

std::vector<std::string> filesMatching(const std::string& dir, const std::string& prefix, const std::string& suffix) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::string name = entry.path().filename().string();
        if (name.size() >= prefix.size() + suffix.size() && name.starts_with(prefix) && name.ends_with(suffix))
            found.push_back(entry.path().string());
    }
    return found;
}

}  // namespace tarmig::testing
