#include <cstdint>
#include <cstdio>
#include <termios.h>

#include "platform/os.h"
#include "rescue/rescue.h"

// Raw keys only for this one read: the console keeps its line discipline (and ISIG, so that an
// interrupt still reaches the launcher) at every other moment.
int uartGetC()
{
    uint8_t key = 0;
    termios saved{};
    // Settings that could not be read are not applied or restored: the key is read as it comes.
    bool is_terminal = os::tcgetattr(0, &saved) == 0;
    if (is_terminal) {
        termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        os::tcsetattr(0, TCSANOW, &raw);
    }
    // Nothing read (end of input, an error, an interrupt) leaves the key at 0.
    os::read(0, &key, 1);
    if (is_terminal)
        os::tcsetattr(0, TCSANOW, &saved);
    return key;
}

void uartPutC(int byte)
{
    putchar(static_cast<unsigned char>(byte));
    fflush(stdout);
}
