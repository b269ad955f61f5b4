// The one seam between the launcher's modules and the operating system.
//
// Every device, file, process and time operation of the modules goes through these functions.
// They keep the POSIX names, arguments and results (-1 and errno on failure), so the module code
// reads like plain systems code.  linux.cpp passes each one straight to the system; the simulated
// board (sim/) implements the same functions over emulated devices.  Which one a program gets is
// decided at link time.
#pragma once

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sys/types.h>
#include <termios.h>

namespace os {

int open(const char* path, int flags, mode_t mode = 0);
int close(int fd);
ssize_t read(int fd, void* buf, size_t count);
ssize_t write(int fd, const void* buf, size_t count);
ssize_t pread(int fd, void* buf, size_t count, off_t offset);
ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset);
off_t lseek(int fd, off_t offset, int whence);
// ioctl requests take either a pointer to a request record or a plain number (I2C_SLAVE).
int ioctl(int fd, unsigned long request, void* arg);
int ioctl(int fd, unsigned long request, unsigned long arg);
int access(const char* path, int mode);
// A buffer of count bytes from the heap; empty when there is not that much memory.
std::unique_ptr<uint8_t[]> new_buffer(size_t count);
int unlink(const char* path);
// Writes out everything the kernel still holds in its caches for any device or file.
void sync();

int tcgetattr(int fd, termios* settings);
int tcsetattr(int fd, int when, const termios* settings);
int tcdrain(int fd);
int tcflush(int fd, int queue);
int tcflow(int fd, int action);

// SMBus byte-data transfers on an open i2c-dev bus: the byte read (0..255) or -1; the write's result.
int smbus_read_byte_data(int fd, uint8_t command);
int smbus_write_byte_data(int fd, uint8_t command, uint8_t value);

int socket(int domain, int type, int protocol);

int sigaction(int signum, const struct sigaction* action, struct sigaction* old_action);

// Runs a command line through the shell and waits for it; -1 when no shell could be run.
int system(const char* command);
// Replaces the process; returns -1 only when that failed.
int execv(const char* path, char* const argv[]);
[[noreturn]] void exit(int status);
unsigned sleep(unsigned seconds);
int usleep(useconds_t microseconds);

}  // namespace os
