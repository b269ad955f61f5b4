// The host's end of a board's serial line: a tty device (a USB serial adapter, or a pseudo-terminal
// standing in for one) opened raw 8N1, whose speed the conversation switches as the board asks.
// This and the terminal mode of imgtool send are the only code of imgtool that touches devices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <termios.h>

// Why a line could not be had, e.g. "cannot open /dev/ttyUSB0: No such file or directory".
struct OpenFailure {
    std::string reason;
    // The line is there but not this program's to use: another program has it, or the user may not
    // open it.  Not a matter of cable or power.
    bool held_back;
};

// What the operator is told of a line that could not be had.
std::string no_line_text(const OpenFailure& failure);

// How a write ended.
enum class WriteResult {
    Done,
    Stalled,  // the adapter took no bytes until the write's deadline: it hangs, the line is still there
    Stopped,  // Ctrl-C or a signal ended the wait for the adapter
    Gone,     // the line hung up or failed
};

class SerialLine {
public:
    // Opens path and takes it (see take).
    static std::optional<OpenFailure> open(const std::string& path, unsigned speed, SerialLine& line);
    // Opens path only to keep it open, taking nothing and changing nothing: a pseudo-terminal whose
    // last user closes it tells the program at its other end that its operator has gone.
    static std::optional<OpenFailure> keep_open(const std::string& path, SerialLine& line);

    SerialLine() = default;
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Takes the open line for this program alone, as terminal programs take a line and see that
    // another has it (an exclusive open, an advisory lock on the device, a lock file of theirs
    // honoured), then sets it raw 8N1 at the speed, keeping the settings found to put back on close.
    std::optional<OpenFailure> take(unsigned speed);

    // Waits until what was written has left, then sets both directions to the speed; false for a
    // speed the host cannot set.
    bool set_speed(unsigned speed);
    unsigned speed() const { return speed_; }
    // Up to bytes.size() bytes that arrive within timeout_ms (0: only what is waiting).  Gives the
    // count, 0 when nothing came, -1 when the line is gone (hung up, unplugged).
    long read(std::span<uint8_t> bytes, int timeout_ms);
    // All of the bytes, waiting while the line is busy, but no longer than the bytes take at the
    // line's speed and a few seconds more, and not past a Ctrl-C or signal that comes meanwhile.
    WriteResult write(std::span<const uint8_t> bytes);
    WriteResult write(const std::string& text);
    // Throws away what has arrived and not been read.
    void discard_input();
    // Puts the settings found when taken back, lets the line go and closes the device; the destructor
    // does it too.
    void close();
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }

private:
    std::optional<OpenFailure> held_by_another();

    int fd_ = -1;
    bool taken_ = false;
    unsigned speed_ = 0;
    std::string path_;
    termios saved_{};
};

// The termios constant of a speed in bit/s; nullopt for a speed termios does not name.
std::optional<speed_t> termios_speed(unsigned speed);
