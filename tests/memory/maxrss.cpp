// vorn-maxrss: runs a command and reports its peak resident memory.
//
//   vorn-maxrss REPORT COMMAND [ARGUMENT...]
//
// The command inherits standard input, output and error. Once it has ended,
// REPORT holds one line: its exit status (or 128 + signal) and its peak
// resident set size in KiB. vorn-maxrss exits with the command's status.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: vorn-maxrss REPORT COMMAND [ARGUMENT...]\n");
        return 2;
    }
    const pid_t child = fork();
    if (child < 0) {
        std::perror("vorn-maxrss: fork");
        return 2;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        std::fprintf(stderr, "vorn-maxrss: cannot run %s: %s\n", argv[2], std::strerror(errno));
        _exit(127);
    }
    int wstatus = 0;
    rusage usage{};
    while (wait4(child, &wstatus, 0, &usage) < 0) {
        if (errno != EINTR) {
            std::perror("vorn-maxrss: wait4");
            return 2;
        }
    }
    const int status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    std::FILE* report = std::fopen(argv[1], "w");
    if (report == nullptr || std::fprintf(report, "%d %ld\n", status, usage.ru_maxrss) < 0 || std::fclose(report) != 0) {
        std::perror("vorn-maxrss: report");
        return 2;
    }
    return status;
}
