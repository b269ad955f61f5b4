// The emulated operating system inside a run: its descriptor table and the devices behind it.
// Shared by the files that emulate one device each; only sim's own code includes it.
#pragma once

#include <cstdint>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/types.h>
#include <termios.h>

#include "sim/state.h"

namespace sim {

enum class Node { Flash, Bus, Cpld, Serial, Socket };

struct Handle {
    Node node;
    std::string path;
    int flags = O_RDWR;  // as opened: the access mode and the other open flags
    off_t position = 0;
    int slave = -1;    // I2C address selected on a bus
    int real_fd = -1;  // a passed-through serial port
};

// The emulated system's state in the child; fresh for every run.
struct System {
    std::map<int, Handle> handles;
    std::map<int, std::string> real_paths;  // files under /tmp: real descriptor -> board path
    int next_fd = 1000;
    bool standard_closed[3] = {};      // descriptors 0, 1 and 2, inherited open
    bool interrupt_delivered = false;  // the console's timed interrupt
    size_t console_next = 0;
    termios console{};
    termios serial{};
};

System& sys();
Board& board();
SharedState& state();
// Sets errno and gives -1, as a failing system call does.
int fail(int error);
Handle* handle(int fd);
int open_node(Node node, const std::string& path, int flags);
// Records the open of path with its flags; the test reads both back from the run.
void record_open(const std::string& path, int flags);
// Whether a descriptor opened with these flags may be read from, or written to.
bool readable(int flags);
bool writable(int flags);
void advance_clock(uint64_t microseconds);

// Flash (flash_device.cpp).
ssize_t flash_transfer(FlashOp op, void* buf, size_t count, off_t offset);
int flash_ioctl(const Handle& h, unsigned long request, void* arg);

// I2C bus, EEPROM and CPLD register file (i2c_devices.cpp).
bool eeprom_answers(const Handle& bus);
void eeprom_write_stored();
void record_formatted(Event::Kind kind, const char* format, int a, int b);
ssize_t bus_write(Handle& bus, const void* buf, size_t count);
ssize_t bus_read(Handle& bus, void* buf, size_t count);
ssize_t cpld_transfer(Handle& h, void* buf, size_t count, bool writing);

// Serial port (serial_port.cpp).
int open_serial(const std::string& path, int flags);
ssize_t serial_read(Handle& h, void* buf, size_t count);
ssize_t serial_write(Handle& h, const void* buf, size_t count);
// Drops what the peer has already sent, as flushing the port's input queue does.
void discard_serial_input(Handle& h);

// Console and terminal settings (console.cpp).
termios cooked_terminal();
void record_tty(const std::string& name, const termios& t);
ssize_t console_read(void* buf, size_t count);
ssize_t console_stream_read(void* cookie, char* buf, size_t size);

// Management network interface (net_device.cpp).
int socket_ioctl(unsigned long request, void* arg);

}  // namespace sim
