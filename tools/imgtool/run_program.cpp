#include "imgtool/run_program.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

std::optional<std::string> run_program(const std::vector<std::string>& argv, bool quiet)
{
    std::vector<char*> pointers;
    for (const std::string& arg : argv)
        pointers.push_back(const_cast<char*>(arg.c_str()));
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    }
    pid_t pid;
    const int error = posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, pointers.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0)
        return "cannot run " + argv[0] + ": " + strerror(error);
    int status;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return "cannot wait for " + argv[0] + ": " + strerror(errno);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return argv[0] + " failed";
    return std::nullopt;
}
