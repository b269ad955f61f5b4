/* The board's demo memory-checker library: announces itself when it is preloaded into a program. */
#include <stdio.h>

__attribute__((constructor)) static void announce(void)
{
    printf("libduma.so.0.0.0: memory checker loaded\n");
    fflush(stdout);
}
