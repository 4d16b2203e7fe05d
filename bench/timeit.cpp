// vorn-timeit: runs a command several times and reports its median wall-clock
// time, its median processor time (user and system) and the median of its
// peak memory.
//
//   vorn-timeit RUNS INPUT OUTPUT COMMAND [ARGS...]
//
// Every run reads INPUT as standard input and writes its standard output to
// OUTPUT (rewritten by each run); standard error is discarded. Prints one line:
//   wall=SECONDS cpu=SECONDS maxrss=KILOBYTES status=STATUS
// where maxrss is the median over the runs of each run's peak resident
// memory (which varies by a few hundred kilobytes from run to run with the
// pages of the program and its libraries that happen to be mapped), and
// status that of the last run.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

double seconds(const timeval& t)
{
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6;
}

double now()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 == 1 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

void redirect(const char* path, int flags, int fd)
{
    const int from = open(path, flags, 0644);
    if (from < 0 || dup2(from, fd) < 0) {
        std::perror(path);
        _exit(127);
    }
    close(from);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: vorn-timeit RUNS INPUT OUTPUT COMMAND [ARGS...]\n");
        return 2;
    }
    const int runs = std::atoi(argv[1]);
    if (runs < 1) {
        std::fprintf(stderr, "vorn-timeit: RUNS must be at least 1\n");
        return 2;
    }

    std::vector<double> wall;
    std::vector<double> cpu;
    std::vector<double> rss;
    int status = 0;
    for (int run = 0; run < runs; ++run) {
        const double start = now();
        const pid_t child = fork();
        if (child < 0) {
            std::perror("fork");
            return 1;
        }
        if (child == 0) {
            redirect(argv[2], O_RDONLY, 0);
            redirect(argv[3], O_WRONLY | O_CREAT | O_TRUNC, 1);
            redirect("/dev/null", O_WRONLY, 2);
            execvp(argv[4], argv + 4);
            _exit(127);
        }
        rusage usage{};
        int wstatus = 0;
        if (wait4(child, &wstatus, 0, &usage) < 0) {
            std::perror("wait4");
            return 1;
        }
        wall.push_back(now() - start);
        cpu.push_back(seconds(usage.ru_utime) + seconds(usage.ru_stime));
        rss.push_back(static_cast<double>(usage.ru_maxrss));
        if (WIFEXITED(wstatus)) {
            status = WEXITSTATUS(wstatus);
        } else {
            std::fprintf(stderr, "vorn-timeit: %s ended by signal %d\n", argv[4], WTERMSIG(wstatus));
            return 1;
        }
    }
    std::printf("wall=%.6f cpu=%.6f maxrss=%.0f status=%d\n", median(wall), median(cpu), median(rss), status);
    return 0;
}
