/* The board's /bin/monotonic: the monotonic clock in seconds with nanoseconds, for the boot-time
 * notes of board.timing (busybox's date reads the wall clock, /proc/uptime has 10 ms steps); static,
 * so that taking a note costs no dynamic loading. */
#include <stdio.h>
#include <time.h>

int main(void)
{
    struct timespec now;
    if (clock_gettime(CLOCK_MONOTONIC, &now) != 0) {
        perror("monotonic");
        return 1;
    }
    printf("%lld.%09ld\n", (long long)now.tv_sec, now.tv_nsec);
    return 0;
}
