/* The board's /bin/timed: with board.timing=commands the board's init links it as /timing/tar and
 * /timing/lzma, first on the launcher's PATH. It runs /bin/NAME (NAME being the name it was started
 * under) with the same arguments and notes on standard error, the console, when that started and
 * ended on the monotonic clock. Built static and timing in-process, it adds little to the road. */
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    (void)argc;
    const char *slash = strrchr(argv[0], '/');
    const char *name = slash ? slash + 1 : argv[0];
    char path[64];
    snprintf(path, sizeof path, "/bin/%s", name);

    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t child = fork();
    if (child < 0) {
        perror("timed: fork");
        return 1;
    }
    if (child == 0) {
        execv(path, argv);
        perror(path);
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            perror("timed: waitpid");
            return 1;
        }
    }
    clock_gettime(CLOCK_MONOTONIC, &end);
    fprintf(stderr, "board: timing %s %lld.%09ld %lld.%09ld\n", name, (long long)start.tv_sec, start.tv_nsec,
            (long long)end.tv_sec, end.tv_nsec);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
