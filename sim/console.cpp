// The console: scripted keys and interrupts on standard input, and terminal settings.
#include <cerrno>
#include <csignal>
#include <cstdio>

#include "sim/emulated_system.h"

namespace sim {

termios cooked_terminal()
{
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

speed_t speed_value(speed_t code)
{
    switch (code) {
    case B9600:
        return 9600;
    case B19200:
        return 19200;
    case B38400:
        return 38400;
    case B57600:
        return 57600;
    case B115200:
        return 115200;
    default:
        return 0;
    }
}

void record_tty(const std::string& name, const termios& t)
{
    char text[160];
    std::snprintf(text, sizeof text, "%s icanon=%d echo=%d isig=%d vmin=%d vtime=%d speed=%u", name.c_str(),
                  (t.c_lflag & ICANON) != 0, (t.c_lflag & ECHO) != 0, (t.c_lflag & ISIG) != 0, t.c_cc[VMIN],
                  t.c_cc[VTIME], static_cast<unsigned>(speed_value(cfgetospeed(&t))));
    record(Event::Kind::Tty, text);
}

namespace {

// A read that a caught signal interrupts ends with EINTR, unless the handler was installed with
// SA_RESTART: then the kernel restarts it and it goes on waiting.  An ignored signal does not
// interrupt it at all.
bool read_restarts_after_interrupt()
{
    struct sigaction current {};
    ::sigaction(SIGINT, nullptr, &current);
    return current.sa_handler == SIG_IGN || (current.sa_flags & SA_RESTART) != 0;
}

}  // namespace

ssize_t console_read(void* buf, size_t count)
{
    if (sys().standard_closed[0] || board().console.input_closed)
        return fail(EBADF);
    std::vector<ConsoleInput>& input = board().console.input;
    while (sys().console_next < input.size()) {
        ConsoleInput entry = input[sys().console_next++];
        if (entry.kind == ConsoleInput::Kind::Signal) {
            raise(SIGINT);
            continue;
        }
        if (entry.kind == ConsoleInput::Kind::Interrupt) {
            raise(SIGINT);
            if (read_restarts_after_interrupt())
                continue;
            return fail(EINTR);
        }
        if (count == 0)
            return 0;
        *static_cast<uint8_t*>(buf) = entry.key;
        record(Event::Kind::Key, buf, 1);
        return 1;
    }
    return 0;
}

// Standard input as stdio sees it: each read of its buffer takes what a read of the console would
// give at once, a whole line on a terminal in canonical mode, every key typed so far otherwise.  A
// program that reads the console through stdio therefore swallows keys that later reads miss.
ssize_t console_stream_read(void*, char* buf, size_t size)
{
    const std::vector<ConsoleInput>& input = board().console.input;
    bool line_at_a_time = board().console.is_tty && (sys().console.c_lflag & ICANON) != 0;
    size_t n = 0;
    while (n < size) {
        bool next_is_key =
            sys().console_next < input.size() && input[sys().console_next].kind == ConsoleInput::Kind::Key;
        if (n > 0 && !next_is_key)
            break;
        ssize_t got = console_read(buf + n, 1);
        if (got <= 0)
            return n > 0 ? static_cast<ssize_t>(n) : got;
        char key = buf[n++];
        if (line_at_a_time && key == '\n')
            break;
    }
    return static_cast<ssize_t>(n);
}

}  // namespace sim
