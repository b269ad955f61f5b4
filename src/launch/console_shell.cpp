#include <cstdio>

#include "launch/launch_internal.h"
#include "platform/os.h"

void flush_console()
{
    fflush(stdout);
    fflush(stderr);
}

int run_shell(const char* command)
{
    flush_console();
    return os::system(command);
}
