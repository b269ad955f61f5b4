#include "imgtool/send/terminal.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/screen.h"
#include "imgtool/send/serial_line.h"
#include "imgtool/send/stop_signals.h"

namespace {

constexpr uint8_t kQuitKey = 0x1D;  // Ctrl-]

// Standard input as single raw keys while the terminal runs, as it was afterwards.
class RawKeys {
public:
    RawKeys()
    {
        if (tcgetattr(STDIN_FILENO, &saved_) != 0)
            return;
        termios raw = saved_;
        cfmakeraw(&raw);
        raw.c_oflag = saved_.c_oflag;
        active_ = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    }
    ~RawKeys()
    {
        if (active_)
            tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }

private:
    termios saved_{};
    bool active_ = false;
};

// The tool's own line on standard error, after whatever the board left on the screen's line, and in
// the transcript after the board's last line.
void say(const std::string& text, ConsoleLines& lines, Streams io)
{
    io.err << "\r\nimgtool send: " << text << '\n';
    lines.pause();
    lines.note(text);
}

}  // namespace

void run_terminal(SerialLine& line, Transcript& transcript, Streams io)
{
    const std::string start =
        "terminal on " + line.path() + " at " + std::to_string(line.speed()) + " bit/s; Ctrl-] ends it";
    io.err << "imgtool send: " << start << '\n';
    ConsoleLines lines(nullptr, 0, transcript);
    lines.note(start);
    RawKeys keys;
    uint8_t bytes[512];
    while (!leaving_at_once()) {
        pollfd ends[2] = {{line.fd(), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(ends, 2, 1000) < 0)
            continue;
        if (ends[0].revents != 0) {
            const long got = line.read(bytes, 0);
            if (got < 0)
                return say("the line went away", lines, io);
            io.out.write(reinterpret_cast<const char*>(bytes), got);
            io.out.flush();
            lines.take(bytes, static_cast<size_t>(got));
        }
        if (ends[1].revents == 0)
            continue;
        const ssize_t typed = read(STDIN_FILENO, bytes, sizeof bytes);
        if (typed <= 0) {
            lines.pause();
            return;
        }
        for (ssize_t i = 0; i < typed; ++i) {
            if (bytes[i] == kQuitKey)
                return say("terminal ended", lines, io);
            line.write(std::span(&bytes[i], 1));
        }
    }
    say(std::string(phrase::TERMINAL_BY_SIGNAL), lines, io);
}
