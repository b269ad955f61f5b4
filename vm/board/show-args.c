/* Stand-in for the board's debuggers (/bin/gdbserver, and the debugger taken from the other slot):
 * prints the command line it was started with, so a boot shows how the launcher called it. */
#include <stdio.h>

int main(int argc, char **argv)
{
    for (int i = 0; i < argc; i++)
        printf(i == 0 ? "%s" : " %s", argv[i]);
    printf("\n");
    return 0;
}
