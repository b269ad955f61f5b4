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

class SerialLine {
public:
    // Opens path raw 8N1 at the speed, keeping the settings found to put back on close.  Gives the
    // reason when it cannot, e.g. "cannot open /dev/ttyUSB0: No such file or directory".
    static std::optional<std::string> open(const std::string& path, unsigned speed, SerialLine& line);

    SerialLine() = default;
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    // Waits until what was written has left, then sets both directions to the speed; false for a
    // speed the host cannot set.
    bool set_speed(unsigned speed);
    unsigned speed() const { return speed_; }
    // Up to bytes.size() bytes that arrive within timeout_ms (0: only what is waiting).  Gives the
    // count, 0 when nothing came, -1 when the line is gone (hung up, unplugged).
    long read(std::span<uint8_t> bytes, int timeout_ms);
    // All of the bytes, waiting while the line is busy; false when the line is gone.
    bool write(std::span<const uint8_t> bytes);
    bool write(const std::string& text);
    // Throws away what has arrived and not been read.
    void discard_input();
    // Puts the settings found at open back and closes the device; the destructor does it too.
    void close();
    const std::string& path() const { return path_; }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
    unsigned speed_ = 0;
    std::string path_;
    termios saved_{};
};

// The termios constant of a speed in bit/s; nullopt for a speed termios does not name.
std::optional<speed_t> termios_speed(unsigned speed);
