#include <cstdio>
#include <fcntl.h>
#include <termios.h>

#include "platform/os.h"
#include "xmodem/xmodem.h"

namespace {

// The port's settings as the download found them; put back when it ends, if they could be read.
termios oldtty;
bool oldtty_read = false;

constexpr char SERIAL_PORT[] = "/dev/ttyS0";
constexpr uint8_t CARRIAGE_RETURN = 13;
constexpr uint8_t LINE_FEED = 10;
// Polls of the operator's key (one a second) between two reminders.
constexpr unsigned POLLS_PER_REMINDER = 11;

bool is_carriage_return(uint8_t key) { return key == CARRIAGE_RETURN; }

// Terminal programs send a carriage return for the Enter key that the message asks for, some a line
// feed: waiting for the line feed alone would leave most operators looking at a board that never
// goes on to install what it has just received.
bool is_enter(uint8_t key) { return key == LINE_FEED || key == CARRIAGE_RETURN; }

// The operator confirms each change of the terminal's speed with a key; only a human can, so the
// wait has no limit.  Any other byte (line noise while the speeds differ) costs a poll.
void wait_for_operator(int port, bool (*confirms)(uint8_t), const char* reminder)
{
    unsigned polls = 0;
    for (;;) {
        uint8_t received = 0;
        if (os::read(port, &received, 1) == 1 && confirms(received))
            return;
        os::sleep(1);
        if (++polls < POLLS_PER_REMINDER)
            continue;
        polls = 0;
        puts(reminder);
        fflush(stdout);
    }
}

// Raw 8N1 at 115200 bit/s; the remaining control bits and the control characters stay as found.
termios download_settings(const termios& found)
{
    termios raw = found;
    cfsetispeed(&raw, B115200);
    cfsetospeed(&raw, B115200);
    raw.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSTOPB | CSIZE);
    raw.c_cflag |= CS8;
    raw.c_iflag = IGNBRK;
    raw.c_oflag = 0;
    raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ISIG);
    return raw;
}

}  // namespace

int init_serial()
{
    int port = os::open(SERIAL_PORT, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (port < 0) {
        perror("Can't open serial port!");
        return -1;
    }
    puts("       Change the baud rate to 115200 bps and hit the <ENTER> key");
    puts("       before initiating the download.");
    fflush(stdout);

    os::tcdrain(port);
    os::tcflush(port, TCIOFLUSH);
    oldtty_read = os::tcgetattr(port, &oldtty) == 0;
    termios raw = download_settings(oldtty);
    os::tcsetattr(port, TCSADRAIN, &raw);
    os::tcflow(port, TCOON);

    wait_for_operator(port, is_carriage_return,
                      "\r\n    ... Waiting for the <Enter> key to be hit before the download can start...\r");
    return port;
}

void reset_serial(int port)
{
    puts("       Change the baud rate back to 9600 bps, hit the <ENTER> key");
    fflush(stdout);

    // Only the input is discarded: where the drain does not wait for the far end to take the bytes
    // (a pty), discarding the output could still drop the final ACK.
    os::tcdrain(port);
    os::tcflush(port, TCIFLUSH);
    // Settings never read are no settings to go back to: zeros would hang the line up (speed 0).
    if (oldtty_read)
        os::tcsetattr(port, TCSADRAIN, &oldtty);
    os::tcflow(port, TCOON);

    wait_for_operator(port, is_enter, "\r\n    ... Waiting for the <ENTER> key to be hit...\r");
}
