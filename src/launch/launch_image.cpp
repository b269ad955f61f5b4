#include <cstdio>
#include <unistd.h>

#include "i2c/i2c.h"
#include "launch/launch.h"
#include "launch/launch_internal.h"
#include "platform/os.h"
#include "rescue/rescue.h"

char stringbuff[STRINGBUFF_SIZE];

namespace {

constexpr char MARKER_PATH[] = "/tmp/home/bin/distro-id";
constexpr char GDB_PATH[] = "/tmp/gdb";
constexpr char BACKTRACE_PATH[] = "/bin/backtrace";

bool exists(const char* path) { return os::access(path, F_OK) == 0; }

// An archive without the marker file was probably built for other hardware: the operator may
// fetch a new image before this one is started.
void offer_rescue()
{
    puts("WARNING: Suspected incompatible application image detected during unpacking");
    printf("Would you like to enter recovery mode to download a new image? y/N: ");
    fflush(stdout);
    int key = uartGetC();
    if (key == 'y' || key == 'Y')
        run_rescue_mode();
}

void decompress_application(uint8_t is_diagnostics)
{
    puts("Uncompressing application image....");
    run_shell("lzma d /tmp/home/bin/mp.elf.strip.lzma /tmp/home/bin/mp.elf.strip\n");
    run_shell("rm /tmp/home/bin/mp.elf.strip.lzma\n");
    run_shell("chmod +x /tmp/home/bin/mp.elf.strip");
    if (!is_diagnostics)
        return;
    // The diagnostics binary takes the application's name, keeping the mode it had in the archive.
    puts("install diags image");
    run_shell("mkdir -p /tmp/home/bin");
    run_shell("mv /tmp/mpdiag.elf.strip /tmp/home/bin/mp.elf.strip");
}

void operator_shell()
{
    puts("Dropping into shell");
    snprintf(stringbuff, sizeof stringbuff, "/bin/sh\n");
    run_shell(stringbuff);
    puts("Dropping out of shell");
}

// Runs the application as a child under the command line in stringbuff; the board resets when
// that run ends.
[[noreturn]] void run_debug_line()
{
    run_shell(stringbuff);
    board_reset();
}

void debug_server_line(const char* preload)
{
    char address[16];
    snprintf(address, sizeof address, "%u.%u.%u.%u", gdbserver >> 24, (gdbserver >> 16) & 0xFF,
             (gdbserver >> 8) & 0xFF, gdbserver & 0xFF);
    snprintf(stringbuff, sizeof stringbuff, "%s/bin/gdbserver %s:%d /tmp/home/bin/mp.elf.strip\n", preload,
             address, gdbport);
}

// The debug modes run and reset here; the others leave the program to execute in stringbuff.
void choose_launch_mode()
{
    if (gdbserver_enable) {
        debug_server_line(memchk_enable ? "LD_PRELOAD=libduma.so.0.0.0 " : "");
        run_debug_line();
    }
    if (gdb_enable) {
        if (exists(GDB_PATH)) {
            puts("*** Launching under GDB ***");
            snprintf(stringbuff, sizeof stringbuff, "%s /tmp/home/bin/mp.elf.strip", GDB_PATH);
            run_debug_line();
        }
        puts("**** GDB mode selected but GDB not available. Please install GDB image ***");
        snprintf(stringbuff, sizeof stringbuff, "%s", BACKTRACE_PATH);
        return;
    }
    if (memchk_enable) {
        snprintf(stringbuff, sizeof stringbuff, "LD_PRELOAD=libduma.so.0.0.0 /tmp/home/bin/mp.elf.strip\n");
        run_debug_line();
    }
    snprintf(stringbuff, sizeof stringbuff, "%s", BACKTRACE_PATH);
}

}  // namespace

void launch_image(uint8_t is_diagnostics)
{
    os::sleep(1);
    snprintf(stringbuff, sizeof stringbuff, "cd /tmp \ntar mxzf %s \nrm %s\n", APP_ARCHIVE_PATH,
             APP_ARCHIVE_PATH);
    if (run_shell(stringbuff) < 0) {
        fprintf(stderr, "Failed to gunzip Application OS.\n");
        board_reset();
    }
    if (!exists(MARKER_PATH))
        offer_rescue();

    // The application must not inherit the bus.
    api_i2c_close();
    decompress_application(is_diagnostics);
    if (shell_enable)
        operator_shell();

    choose_launch_mode();
    char* const argv[] = {stringbuff, nullptr};
    flush_console();
    os::execv(stringbuff, argv);
    fprintf(stderr, "Failed to start Application OS.\n");
    board_reset();
}
