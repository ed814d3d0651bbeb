// Runs one command and reports its wall time, CPU and peak memory from wait4.
// Started from a small process, the child's peak RSS is its own: Linux keeps
// the forking process's high-water mark across exec.
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_measure OUTPUT_FILE COMMAND [ARGS...]\n");
        return 2;
    }
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int out = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out >= 0) {
            dup2(out, STDOUT_FILENO);
            dup2(out, STDERR_FILENO);
            close(out);
        }
        execvp(argv[2], argv + 2);
        std::perror(argv[2]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return 1;
    std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("%.6f %.6f %.6f %ld %d\n", wall.count(), seconds(usage.ru_utime), seconds(usage.ru_stime),
                usage.ru_maxrss, code);
    return 0;
}
