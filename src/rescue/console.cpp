#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <termios.h>

#include "platform/os.h"
#include "rescue/rescue.h"
#include "rescue/rescue_internal.h"

// Raw keys only for this one read: the console keeps its line discipline (and ISIG, so that an
// interrupt still reaches the launcher) at every other moment.
int read_console_key(uint8_t* key)
{
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
    ssize_t result = os::read(0, key, 1);
    int saved_errno = errno;
    if (is_terminal)
        os::tcsetattr(0, TCSANOW, &saved);
    errno = saved_errno;
    return static_cast<int>(result);
}

bool console_gone(int read_result)
{
    return read_result == 0 || (read_result < 0 && errno != EINTR && errno != EAGAIN);
}

int uartGetC()
{
    // Nothing read (end of input, an error, an interrupt) leaves the key at 0.
    uint8_t key = 0;
    read_console_key(&key);
    return key;
}

void uartPutC(int byte)
{
    putchar(static_cast<unsigned char>(byte));
    fflush(stdout);
}
