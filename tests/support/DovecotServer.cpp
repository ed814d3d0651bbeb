#include "support/DovecotServer.h"

#include "support/LoopbackSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sstream>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace tarmig::testing {

namespace {

const char* const dovecotBinary = "/usr/sbin/dovecot";

bool writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    return static_cast<bool>(out.flush());
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Starts a program with its output appended to `logFile`; -1 on failure.
// The child gets SIGTERM if the starting thread dies, so a test run that is
// killed leaves no server behind.
pid_t spawn(const std::vector<std::string>& args, const std::string& logFile) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid != 0) return pid;
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    int in = open("/dev/null", O_RDONLY);
    int out = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0) _exit(127);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(out, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
}

bool runToEnd(const std::vector<std::string>& args, const std::string& logFile) {
    pid_t pid = spawn(args, logFile);
    if (pid < 0) return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool acceptsConnections(unsigned port, Loopback family) {
    sockaddr_storage address{};
    socklen_t length = sizeof(sockaddr_in);
    if (family == Loopback::V6) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
        in6->sin6_family = AF_INET6;
        in6->sin6_addr = in6addr_loopback;
        in6->sin6_port = htons(static_cast<std::uint16_t>(port));
        length = sizeof(sockaddr_in6);
    } else {
        *reinterpret_cast<sockaddr_in*>(&address) = loopbackAddress(port);
    }
    int fd = socket(address.ss_family, SOCK_STREAM, 0);
    if (fd < 0) return false;
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0;
    close(fd);
    return ok;
}

std::string passwdFile(const std::vector<DovecotAccount>& accounts) {
    std::string text;
    for (const auto& a : accounts) text += a.user + ":{PLAIN}" + a.password + "\n";
    return text;
}

}  // namespace

bool dovecotInstalled() {
    return access(dovecotBinary, X_OK) == 0;
}

DovecotServer::DovecotServer(DovecotOptions options) : options_(std::move(options)) {}

DovecotServer::~DovecotServer() {
    stop();
    if (!dir_.empty()) {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
}

std::string DovecotServer::logText() const {
    return readText(dir_ + "/dovecot.log") + readText(dir_ + "/console.log");
}

bool DovecotServer::prepare(std::string& error) {
    // Mail files on a memory file system keep Dovecot's own disk work from
    // dominating what the client's tests and benchmarks measure.
    std::error_code ec;
    fs::path base = fs::is_directory("/dev/shm", ec) && access("/dev/shm", W_OK) == 0
                        ? fs::path("/dev/shm")
                        : fs::temp_directory_path();
    std::string pattern = (base / "tarmig-dovecot-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        error = "cannot create a temporary directory";
        return false;
    }
    dir_ = pattern;
    // The login, auth and mail processes run as other users and must reach their files.
    chmod(dir_.c_str(), 0755);
    const passwd* nobody = getpwnam("nobody");
    const group* nogroup = getgrnam("nogroup");
    if (!nobody || !nogroup) {
        error = "the users nobody and nogroup are needed for the mail processes";
        return false;
    }
    for (const char* sub : {"/run", "/state", "/mail"}) fs::create_directory(dir_ + sub, ec);
    if (chown((dir_ + "/mail").c_str(), nobody->pw_uid, nogroup->gr_gid) != 0) {
        error = "cannot hand the mail directory to nobody";
        return false;
    }
    if (!writeText(dir_ + "/users", passwdFile(options_.users)) ||
        !writeText(dir_ + "/masters", passwdFile(options_.masterUsers))) {
        error = "cannot write the password files";
        return false;
    }
    if (options_.tls &&
        !runToEnd({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                   "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj", "/CN=localhost",
                   "-keyout", dir_ + "/key.pem", "-out", certificateFile()},
                  dir_ + "/console.log")) {
        error = "openssl could not generate a certificate: " + readText(dir_ + "/console.log");
        return false;
    }
    return true;
}

std::string DovecotServer::configText() const {
    std::string d = dir_;
    std::string p = std::to_string(port_);
    const std::string address = options_.listen == Loopback::V6 ? "::1" : "127.0.0.1";
    std::string text =
        "base_dir = " + d + "/run\n"
        "state_dir = " + d + "/state\n"
        "log_path = " + d + "/dovecot.log\n"
        "instance_name = tarmig-" + p + "\n"
        "protocols = imap\n"
        "listen = " + address + "\n"
        "default_login_user = dovenull\n"
        "default_internal_user = dovecot\n"
        "auth_mechanisms = plain login cram-md5\n"
        "disable_plaintext_auth = no\n"
        "auth_master_user_separator = *\n"
        // Refused logins are part of the tests: no delay, no penalty for the next ones.
        "auth_failure_delay = 0\n"
        "service anvil {\n  unix_listener anvil-auth-penalty {\n    mode = 0\n  }\n}\n"
        // Single-dbox keeps appends fast however full a folder gets, which
        // maildir does not; the namespace gives the "/" hierarchy.
        "mail_location = sdbox:" + d + "/mail/%u\n"
        "mail_fsync = never\n"
        "namespace inbox {\n  inbox = yes\n  separator = /\n}\n"
        "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " + d + "/masters\n  master = yes\n}\n"
        "passdb {\n  driver = passwd-file\n  args = scheme=PLAIN " + d + "/users\n}\n"
        "userdb {\n  driver = static\n  args = uid=nobody gid=nogroup home=" + d + "/mail/%u\n}\n";
    if (options_.tls) {
        text += "ssl = required\n"
                "ssl_cert = <" + certificateFile() + "\n"
                "ssl_key = <" + d + "/key.pem\n"
                "service imap-login {\n"
                "  inet_listener imap {\n    port = 0\n  }\n"
                "  inet_listener imaps {\n    address = " + address + "\n    port = " + p + "\n    ssl = yes\n  }\n"
                "}\n";
    } else {
        text += "ssl = no\n"
                "service imap-login {\n"
                "  inet_listener imap {\n    address = " + address + "\n    port = " + p + "\n  }\n"
                "  inet_listener imaps {\n    port = 0\n  }\n"
                "}\n";
    }
    return text;
}

bool DovecotServer::launch(std::string& error) {
    std::string config = dir_ + "/dovecot.conf";
    if (!writeText(config, configText())) {
        error = "cannot write " + config;
        return false;
    }
    pid_ = spawn({dovecotBinary, "-F", "-c", config}, dir_ + "/console.log");
    if (pid_ < 0) {
        error = "cannot start " + std::string(dovecotBinary);
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            error = "dovecot exited at start: " + logText();
            return false;
        }
        if (acceptsConnections(port_, options_.listen)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop();
    error = "dovecot did not open port " + std::to_string(port_) + ": " + logText();
    return false;
}

bool DovecotServer::start(std::string& error) {
    if (!dovecotInstalled()) {
        error = std::string(dovecotBinary) + " is not installed";
        return false;
    }
    if (dir_.empty() && !prepare(error)) return false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        // A start that loses the race for the free port retries with another one.
        port_ = freeLoopbackPort(options_.listen);
        if (port_ != 0 && launch(error)) return true;
    }
    return false;
}

void DovecotServer::stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    pid_ = -1;
}

}  // namespace tarmig::testing
