/* The application the bench installs: it says which download it came from and then runs on, as a
 * module's application does, until the bench cuts the power. It takes nothing from the root file
 * system it lands on: no C library (so it is static and starts on any 32-bit PowerPC Linux), no
 * program to end the boot with, and its line is its own, whatever name /bin/backtrace starts it by.
 * IMAGE_TEXT is given when it is built. */
#ifndef IMAGE_TEXT
#error "IMAGE_TEXT names the download this application comes from"
#endif

/* The 32-bit PowerPC Linux system call numbers of write and pause */
#define SYS_WRITE 4
#define SYS_PAUSE 29

static long system_call(long number, long first, long second, long third)
{
    register long r0 __asm__("r0") = number;
    register long r3 __asm__("r3") = first;
    register long r4 __asm__("r4") = second;
    register long r5 __asm__("r5") = third;
    __asm__ volatile("sc"
                     : "+r"(r0), "+r"(r3), "+r"(r4), "+r"(r5)
                     :
                     : "r6", "r7", "r8", "r9", "r10", "r11", "r12", "cr0", "ctr", "memory");
    return r3;
}

void _start(void)
{
    static const char line[] = "bench application: " IMAGE_TEXT "\n";
    system_call(SYS_WRITE, 1, (long)line, sizeof line - 1);
    for (;;)
        system_call(SYS_PAUSE, 0, 0, 0);
}
