/* The board's /bin/backtrace: takes over from the launcher and runs the application in its place. */
#include <stdio.h>
#include <unistd.h>

static const char application[] = "/tmp/home/bin/mp.elf.strip";

int main(void)
{
    printf("backtrace: starting %s\n", application);
    fflush(stdout);
    execl(application, application, (char *)NULL);
    perror("backtrace: cannot start the application");
    return 1;
}
