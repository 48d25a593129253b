#include "process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

int RunChildAndWait(const char* pcszProgram, char* const argv[],
                    const std::function<void()>& fnInChild)
{
    const pid_t pid = fork();
    if (pid < 0)
        return -1;
    if (pid == 0)
    {
        if (fnInChild)
            fnInChild();
        execv(pcszProgram, argv);
        // _exit: the child must not run the parent's exit handlers or flush
        // its copies of the parent's buffers.
        _exit(127);
    }
    int iStatus = 0;
    while (waitpid(pid, &iStatus, 0) < 0)
    {
        if (errno != EINTR)
            return -1;
    }
    return iStatus;
}

int RunProgram(const std::vector<std::string>& args, const std::function<void()>& fnInChild)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str())); // exec never writes them
    argv.push_back(nullptr);
    return args.empty() ? -1 : RunChildAndWait(argv[0], argv.data(), fnInChild);
}

int RunShell(const char* pcszCommand)
{
    return std::system(pcszCommand);
}
