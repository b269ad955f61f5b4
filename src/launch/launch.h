// Boot control: start-up, boot options, slot choice and fallback, application launch, board reset.
#pragma once

#include <cstdint>

// Boot options, filled once from the boot loader's environment by parse_uboot_env.
extern int gdb_enable;
extern int gdbserver_enable;
extern uint32_t gdbserver;  // IPv4 address, first dotted component in the most significant byte
extern int gdbport;
extern uint8_t shell_enable;
extern uint8_t memchk_enable;
extern int rescue_enable;

// Set by the SIGINT handler; read and cleared by the rescue menu.
extern volatile uint8_t sig_quit_raised;
// Set before the attempt on the other slot: every failure after it is final.
extern uint8_t tried_alt_image;
// The command line being built and run, or the program to execute.
constexpr unsigned STRINGBUFF_SIZE = 256;
extern char stringbuff[STRINGBUFF_SIZE];

// The application archive: written from a slot or by the rescue installer, unpacked by the launch.
inline constexpr const char APP_ARCHIVE_PATH[] = "/tmp/zarelimage.tar.gz";

// The start-up order of the process; main() forwards to it so that the simulated board can run a
// whole boot as a function call.  Does not return.
int launcher_main(int argc, char** argv);

int sig_init();
void sig_handler(int signum);
int which_image();
int CheckCrc(const uint8_t* data, uint32_t length, uint32_t expected);
int extract_image(int slot);
[[noreturn]] void board_reset();
int parse_uboot_env();
[[noreturn]] void launch_image(uint8_t is_diagnostics);
int extract_gdb(int slot);
