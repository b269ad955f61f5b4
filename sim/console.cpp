// The console: scripted keys and interrupts on standard input, and terminal settings.
#include <csignal>
#include <cerrno>
#include <cstdio>

#include "sim/emulated_system.h"

namespace sim {

termios cooked_terminal() {
    termios t{};
    t.c_iflag = ICRNL | IXON;
    t.c_oflag = OPOST | ONLCR;
    t.c_cflag = CS8 | CREAD | CLOCAL | B9600;
    t.c_lflag = ISIG | ICANON | ECHO | ECHOE | ECHOK | IEXTEN;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    t.c_cc[VINTR] = 3;
    return t;
}

speed_t speed_value(speed_t code) {
    switch (code) {
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

void record_tty(const std::string& name, const termios& t) {
    char text[160];
    std::snprintf(text, sizeof text, "%s icanon=%d echo=%d isig=%d vmin=%d vtime=%d speed=%u", name.c_str(),
                  (t.c_lflag & ICANON) != 0, (t.c_lflag & ECHO) != 0, (t.c_lflag & ISIG) != 0, t.c_cc[VMIN],
                  t.c_cc[VTIME], static_cast<unsigned>(speed_value(cfgetospeed(&t))));
    record(Event::Kind::Tty, text);
}


ssize_t console_read(void* buf, size_t count) {
    std::vector<ConsoleInput>& input = board().console.input;
    while (sys().console_next < input.size()) {
        ConsoleInput entry = input[sys().console_next++];
        if (entry.kind == ConsoleInput::Kind::Signal) {
            raise(SIGINT);
            continue;
        }
        if (entry.kind == ConsoleInput::Kind::Interrupt) {
            raise(SIGINT);
            return fail(EINTR);
        }
        if (count == 0) return 0;
        *static_cast<uint8_t*>(buf) = entry.key;
        return 1;
    }
    return 0;
}

}  // namespace sim
