#include <cctype>
#include <cstdint>
#include <cstdio>

#include "image/image.h"
#include "launch/launch.h"
#include "rescue/rescue.h"
#include "rescue/rescue_internal.h"
#include "xmodem/xmodem.h"

namespace {

constexpr char DOWNLOAD_PATH[] = "/tmp/image";
// The choice at the prompt when the console input has ended: nothing more can be chosen, so the
// menu is left as with Exit and the boot goes on.
constexpr uint8_t CONSOLE_GONE = 0xFF;

void show_menu()
{
    puts("Please select one of the following options:");
    printf("\t%c) Use xmodem 1K to serial download an image\n", 'X');
    printf("\t%c) Reboot\n", 'R');
    printf("\t%c) Exit\n", 'E');
}

// Prompts until a letter of the menu (listed or not) is typed; its upper-case form.
uint8_t read_choice()
{
    for (;;) {
        printf("\nOption? : ");
        fflush(stdout);
        uint8_t key = 0;
        int result = read_console_key(&key);
        // An interrupt, also one that came while the prompt was printed, drops the key.
        if (sig_quit_raised) {
            sig_quit_raised = 0;
            continue;
        }
        if (console_gone(result))
            return CONSOLE_GONE;
        if (key == 0)
            continue;
        int choice = toupper(key);
        switch (choice) {
        case 'X':
        case 'U':
        case 'R':
        case 'D':
        case 'E':
            return static_cast<uint8_t>(choice);
        default:
            printf("unknown option \"%c\". Please try again\n", choice);
        }
    }
}

}  // namespace

int run_rescue_mode()
{
    puts("Entering Rescue Mode.");
    for (;;) {
        show_menu();
        uint8_t choice = read_choice();
        putchar('\n');
        switch (choice) {
        case 'R':
            board_reset();
        case 'X':
            run_xmodem_rescue();
            break;
        case 'E':
        case CONSOLE_GONE:
            return 1;
        default:
            printf("Unknown option %d. Quitting\n", choice);
        }
        // An interrupt during the action must not swallow the next key.
        sig_quit_raised = 0;
    }
}

int run_xmodem_rescue()
{
    puts("Running xmodem rescue.....");
    int32_t received = Xmodem1K(DOWNLOAD_PATH);
    if (received < 1)
        return 0;
    return processTavikImage(DOWNLOAD_PATH);
}
