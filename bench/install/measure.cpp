// Runs one command and prints its wall time and peak resident memory, as
// wait4 reports them: "<seconds> <max_rss_kib> <exit_status>". Standard
// output of the command goes to /dev/null (the installer's tar listing would
// otherwise be timed as terminal output); standard error is kept.
//
// usage: bench_install_measure command [args...]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace
{

double Now()
{
    struct timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0)
        return 0.0;
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

[[noreturn]] void Exec(char* argv[])
{
    int null = open("/dev/null", O_WRONLY);
    if (null < 0 || dup2(null, STDOUT_FILENO) < 0)
        _exit(126);
    execvp(argv[0], argv);
    _exit(127);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2)
    {
        fprintf(stderr, "usage: %s command [args...]\n", argv[0]);
        return 2;
    }
    double start = Now();
    pid_t pid = fork();
    if (pid < 0)
    {
        perror("fork");
        return 1;
    }
    if (pid == 0)
        Exec(argv + 1);
    int status = 0;
    struct rusage usage;
    while (wait4(pid, &status, 0, &usage) < 0)
    {
        if (errno != EINTR)
        {
            perror("wait4");
            return 1;
        }
    }
    double elapsed = Now() - start;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    // ru_maxrss covers the child and the descendants it waited for (tar,
    // gzip, the shells of system()): an upper bound of the installer's own.
    printf("%.3f %ld %d\n", elapsed, usage.ru_maxrss, code);
    return 0;
}
