#include "support/VantrelServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "support/LoopbackClient.h"
#include "support/SelfSignedCertificate.h"
#include "support/StoreBuilder.h"

namespace tarmig::testing {

namespace {

constexpr int kStartSeconds = 10;
constexpr int kStopSeconds = 10;

std::string scriptPath() { return std::string(TARMIG_SOURCE_DIR) + "/tests/peers/vantrel_server.py"; }

// Found before fork, so the child only has to exec.
std::string pythonPath() {
    const char* path = std::getenv("PATH");
    std::string directories = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= directories.size()) {
        std::size_t end = directories.find(':', start);
        if (end == std::string::npos) end = directories.size();
        std::string candidate = (end > start ? directories.substr(start, end - start) : ".") + "/python3";
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    throw std::runtime_error("Vantrel server: python3 not found on PATH");
}

// The first line the child writes to `fd`, without its LF; empty when the
// child ends or stays silent until the deadline.
std::string readFirstLine(int fd) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStartSeconds);
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
        char buffer[256];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) return {};
        line.append(buffer, static_cast<std::size_t>(n));
    }
    return line.substr(0, line.find('\n'));
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("Vantrel dump: cannot read " + path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace

VantrelServer::VantrelServer(VantrelServerOptions options)
    : options_(std::move(options)), dir_(std::make_unique<TempDir>()) {
    std::vector<std::string> args = {pythonPath(), scriptPath(), "--port", "0", "--dump", dumpFile(),
                                     "--master-password", options_.masterPassword};
    if (options_.tls) {
        writeSelfSignedCertificate(certificateFile(), dir_->path() + "/key.pem");
        args.insert(args.end(), {"--tls-cert", certificateFile(), "--tls-key", dir_->path() + "/key.pem"});
    }
    args.insert(args.end(), options_.arguments.begin(), options_.arguments.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("Vantrel server: pipe failed");
    pid_t parent = getpid();
    pid_ = fork();
    if (pid_ == 0) {
        // A test that crashes must not leave its server behind.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);
        dup2(out[1], STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    if (pid_ < 0) {
        close(out[0]);
        throw std::runtime_error("Vantrel server: fork failed");
    }
    std::string line = readFirstLine(out[0]);
    close(out[0]);
    try {
        std::size_t used = 0;
        port_ = static_cast<unsigned>(std::stoul(line, &used));
        if (used != line.size() || port_ == 0) throw std::invalid_argument(line);
    } catch (const std::logic_error&) {
        int status = stop();
        throw std::runtime_error("Vantrel server did not start (exit status " + std::to_string(status) +
                                 "); first line: \"" + line + "\"");
    }
}

VantrelServer::~VantrelServer() { stop(); }

std::string VantrelServer::certificateFile() const { return dir_->path() + "/cert.pem"; }

int VantrelServer::stop() {
    if (pid_ <= 0) return exitStatus_;
    kill(pid_, SIGTERM);
    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kStopSeconds);
    pid_t done = 0;
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (done == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
    }
    pid_ = -1;
    exitStatus_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return exitStatus_;
}

std::string VantrelServer::dumpFile() const { return dir_->path() + "/dump.json"; }

VantrelDump VantrelServer::dump() const {
    if (!running()) return parseVantrelDump(readWholeFile(dumpFile()));
    return parseVantrelDump(liveDump());
}

std::string VantrelServer::liveDump() const {
    LoopbackClient client(port_, options_.tls);
    client.line();  // the greeting, whatever it says
    client.send("D X-DUMP\r\n");
    std::string header = client.line();
    if (header.rfind("* X-DUMP {", 0) != 0) throw std::runtime_error("Vantrel dump: unexpected reply " + header);
    return client.bytes(std::stoul(header.substr(header.find('{') + 1)));
}

}  // namespace tarmig::testing
