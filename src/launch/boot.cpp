#include <csignal>
#include <cstdio>

#include "flash/flash.h"
#include "i2c/i2c.h"
#include "launch/launch.h"
#include "launch/launch_internal.h"
#include "platform/os.h"
#include "rescue/rescue.h"

volatile uint8_t sig_quit_raised = 0;
uint8_t tried_alt_image = 0;

// No start-up result is examined: a missing bus or flash shows later as an unreadable slot byte
// (slot 1) or unreadable slots (reset), which is the most the board can do without them.
int launcher_main(int, char**)
{
    sig_init();
    api_i2c_init();
    api_flash_init();
    parse_uboot_env();
    if (rescue_enable)
        run_rescue_mode();

    int slot = which_image();
    printf("Booting image '%d'\n", slot);
    extract_image(slot);

    int other = other_slot(slot);
    printf("Booting image '%d'\n", other);
    tried_alt_image = 1;
    extract_image(other);
    board_reset();
}

// Without SA_RESTART, so that a console read blocked in the rescue menu ends when the operator
// interrupts it and the menu can see the flag.
int sig_init()
{
    struct sigaction action {};
    action.sa_handler = sig_handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    return os::sigaction(SIGINT, &action, nullptr);
}

void sig_handler(int) { sig_quit_raised = 1; }

// Any slot byte but 2, including an unreadable one (0xFF), boots slot 1 first.
int which_image() { return api_get_image() == 2 ? 2 : 1; }

void board_reset()
{
    os::sleep(1);
    if (run_shell("reboot") < 0)
        fprintf(stderr, "System reboot failed, please power-cycle.\n");
    os::exit(0);
}
