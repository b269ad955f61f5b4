// The real operating system behind os.h: each operation is a pass-through to Linux and libc.
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "platform/os.h"

extern "C" {
#include <i2c/smbus.h>
}

namespace os {

int open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
int close(int fd) { return ::close(fd); }
ssize_t read(int fd, void* buf, size_t count) { return ::read(fd, buf, count); }
ssize_t write(int fd, const void* buf, size_t count) { return ::write(fd, buf, count); }
ssize_t pread(int fd, void* buf, size_t count, off_t offset) { return ::pread(fd, buf, count, offset); }
ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset)
{
    return ::pwrite(fd, buf, count, offset);
}
off_t lseek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }
int ioctl(int fd, unsigned long request, void* arg) { return ::ioctl(fd, request, arg); }
int ioctl(int fd, unsigned long request, unsigned long arg) { return ::ioctl(fd, request, arg); }
int access(const char* path, int mode) { return ::access(path, mode); }
int unlink(const char* path) { return ::unlink(path); }
void sync() { ::sync(); }
std::unique_ptr<uint8_t[]> new_buffer(size_t count)
{
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[count]);
}

int tcgetattr(int fd, termios* settings) { return ::tcgetattr(fd, settings); }
int tcsetattr(int fd, int when, const termios* settings) { return ::tcsetattr(fd, when, settings); }
int tcdrain(int fd) { return ::tcdrain(fd); }
int tcflush(int fd, int queue) { return ::tcflush(fd, queue); }
int tcflow(int fd, int action) { return ::tcflow(fd, action); }

int smbus_read_byte_data(int fd, uint8_t command) { return i2c_smbus_read_byte_data(fd, command); }
int smbus_write_byte_data(int fd, uint8_t command, uint8_t value)
{
    return i2c_smbus_write_byte_data(fd, command, value);
}

int socket(int domain, int type, int protocol) { return ::socket(domain, type, protocol); }

int sigaction(int signum, const struct sigaction* action, struct sigaction* old_action)
{
    return ::sigaction(signum, action, old_action);
}

int system(const char* command) { return std::system(command); }
int execv(const char* path, char* const argv[]) { return ::execv(path, argv); }
void exit(int status) { std::exit(status); }
unsigned sleep(unsigned seconds) { return ::sleep(seconds); }
int usleep(useconds_t microseconds) { return ::usleep(microseconds); }

}  // namespace os
