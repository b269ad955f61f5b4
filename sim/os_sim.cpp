// The operating system of the simulated board: os.h over the emulated devices of a Board.
//
// Device nodes get descriptors from 1000 up; files under /tmp are real files in the test's
// directory with their real descriptors; every other path does not exist.  Nothing here reaches a
// device, a program or a file of the host outside the board's directory.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <new>
#include <string>
#include <unistd.h>

#include "platform/os.h"
#include "sim/emulated_system.h"

namespace sim {

namespace {
System* g_system = nullptr;

bool in_rootfs(const std::string& path)
{
    const std::vector<std::string>& files = board().files.rootfs;
    return std::find(files.begin(), files.end(), path) != files.end();
}

bool open_refused(const std::string& path)
{
    const std::vector<std::string>& refused = board().files.open_fails;
    return std::find(refused.begin(), refused.end(), path) != refused.end();
}

// Plain reads and writes on the flash device move its file position, as on the MTD driver.
ssize_t flash_stream(Handle& h, FlashOp op, void* buf, size_t count)
{
    ssize_t n = flash_transfer(op, buf, count, h.position);
    if (n > 0)
        h.position += n;
    return n;
}

bool is_real_file(int fd) { return sys().real_paths.count(fd) != 0; }

// A write of count bytes to a file under /tmp, as tmpfs takes it: what fits in the room left (a
// short write), or ENOSPC when nothing does.  write_at does the write of the bytes that fit.
template <typename Write>
ssize_t write_within_room(size_t count, Write write_at)
{
    std::optional<uint64_t>& room = board().files.tmp_room;
    const size_t fits = room && *room < count ? static_cast<size_t>(*room) : count;
    if (fits == 0 && count > 0)
        return fail(ENOSPC);
    const ssize_t written = write_at(fits);
    if (room && written > 0)
        *room -= static_cast<uint64_t>(written);
    return written;
}

// A close that the board's knobs make fail still releases the descriptor, as Linux does.
int close_result(const std::string& path)
{
    const std::vector<std::string>& failing = board().files.close_fails;
    return std::find(failing.begin(), failing.end(), path) != failing.end() ? fail(EIO) : 0;
}

// A descriptor this program did not open: the inherited 0, 1 and 2 close once, anything else is
// not open at all.  Either way the run records it, as no road of the launcher should do it.
int close_foreign(int fd)
{
    record(Event::Kind::Close, "fd " + std::to_string(fd));
    if (fd < 0 || fd > 2 || sys().standard_closed[fd])
        return fail(EBADF);
    sys().standard_closed[fd] = true;
    return 0;
}
}  // namespace

System& sys() { return *g_system; }
Board& board() { return active_board(); }
SharedState& state() { return active_state(); }

int fail(int error)
{
    errno = error;
    return -1;
}

Handle* handle(int fd)
{
    auto it = sys().handles.find(fd);
    return it == sys().handles.end() ? nullptr : &it->second;
}

bool input_descriptor_free()
{
    return (sys().standard_closed[0] || board().console.input_closed) && handle(0) == nullptr;
}

int open_node(Node node, const std::string& path, int flags)
{
    int fd = input_descriptor_free() ? 0 : sys().next_fd++;
    sys().handles[fd] = Handle{node, path, flags};
    record_open(path, flags);
    return fd;
}

void record_open(const std::string& path, int flags)
{
    record(Event::Kind::Open, path + '\x1f' + std::to_string(flags));
}

bool readable(int flags) { return (flags & O_ACCMODE) != O_WRONLY; }
bool writable(int flags) { return (flags & O_ACCMODE) != O_RDONLY; }

void advance_clock(uint64_t microseconds)
{
    record_sleep(microseconds);
    state().now_us += microseconds;
    if (!board().serial.passthrough_path.empty())
        ::usleep(static_cast<useconds_t>(microseconds));
    if (state().now_us > board().virtual_limit_us)
        finish(End::Hung, 0);
    const std::optional<uint64_t>& interrupt_at = board().console.interrupt_at_us;
    if (interrupt_at && state().now_us >= *interrupt_at && !sys().interrupt_delivered) {
        sys().interrupt_delivered = true;
        raise(SIGINT);
    }
}

void begin_run_in_child()
{
    static System system;
    system = System{};
    system.console = cooked_terminal();
    system.serial = cooked_terminal();
    g_system = &system;
}

}  // namespace sim

// ==================================================================== the seam

namespace os {

using namespace sim;

int open(const char* path_text, int flags, mode_t mode)
{
    std::string path = path_text;
    if (open_refused(path))
        return fail(EACCES);
    I2c& i2c = board().i2c;
    if (path == "/dev/mtd0") {
        if (board().flash.missing)
            return fail(ENOENT);
        if (board().flash.read_only && writable(flags))
            return fail(EACCES);
        return open_node(Node::Flash, path, flags);
    }
    if (path == "/dev/i2c-0")
        return i2c.bus_missing ? fail(ENOENT) : open_node(Node::Bus, path, flags);
    if (path == "/dev/tavik/cpld_mmmap")
        return i2c.cpld_missing ? fail(ENOENT) : open_node(Node::Cpld, path, flags);
    if (path == "/dev/ttyS0")
        return open_serial(path, flags);
    std::string host = board().host_path(path);
    if (host.empty())
        return fail(in_rootfs(path) ? EACCES : ENOENT);
    int fd = ::open(host.c_str(), flags, mode);
    if (fd < 0)
        return -1;
    sys().real_paths[fd] = path;
    record_open(path, flags);
    return fd;
}

int close(int fd)
{
    if (Handle* h = handle(fd)) {
        if (h->real_fd >= 0)
            ::close(h->real_fd);
        std::string path = h->path;
        record(Event::Kind::Close, path);
        sys().handles.erase(fd);
        return close_result(path);
    }
    if (!is_real_file(fd))
        return close_foreign(fd);
    std::string path = sys().real_paths[fd];
    record(Event::Kind::Close, path);
    sys().real_paths.erase(fd);
    if (::close(fd) != 0)
        return -1;
    return close_result(path);
}

ssize_t read(int fd, void* buf, size_t count)
{
    if (fd == 0 && handle(0) == nullptr)
        return console_read(buf, count);
    if (Handle* h = handle(fd)) {
        if (!readable(h->flags))
            return fail(EBADF);
        switch (h->node) {
        case Node::Flash:
            return flash_stream(*h, FlashOp::Read, buf, count);
        case Node::Bus:
            return bus_read(*h, buf, count);
        case Node::Cpld:
            return cpld_transfer(*h, buf, count, false);
        case Node::Serial:
            return serial_read(*h, buf, count);
        case Node::Socket:
            return fail(ENOTCONN);
        }
    }
    if (!is_real_file(fd))
        return fail(EBADF);
    return ::read(fd, buf, count);
}

ssize_t write(int fd, const void* buf, size_t count)
{
    if (fd == 1 || fd == 2) {
        if (sys().standard_closed[fd])
            return fail(EBADF);
        std::fflush(fd == 1 ? stdout : stderr);
        record(fd == 1 ? Event::Kind::Out : Event::Kind::Err, buf, static_cast<uint32_t>(count));
        return static_cast<ssize_t>(count);
    }
    if (Handle* h = handle(fd)) {
        if (!writable(h->flags))
            return fail(EBADF);
        switch (h->node) {
        case Node::Flash:
            return flash_stream(*h, FlashOp::Write, const_cast<void*>(buf), count);
        case Node::Bus:
            return bus_write(*h, buf, count);
        case Node::Cpld:
            return cpld_transfer(*h, const_cast<void*>(buf), count, true);
        case Node::Serial:
            return serial_write(*h, buf, count);
        case Node::Socket:
            return fail(ENOTCONN);
        }
    }
    if (!is_real_file(fd))
        return fail(EBADF);
    return write_within_room(count, [&](size_t fits) { return ::write(fd, buf, fits); });
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset)
{
    Handle* h = handle(fd);
    if (h != nullptr && !readable(h->flags))
        return fail(EBADF);
    if (h != nullptr && h->node == Node::Flash)
        return flash_transfer(FlashOp::Read, buf, count, offset);
    if (h != nullptr)
        return fail(ESPIPE);
    if (!is_real_file(fd))
        return fail(EBADF);
    return ::pread(fd, buf, count, offset);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset)
{
    Handle* h = handle(fd);
    if (h != nullptr && !writable(h->flags))
        return fail(EBADF);
    if (h != nullptr && h->node == Node::Flash)
        return flash_transfer(FlashOp::Write, const_cast<void*>(buf), count, offset);
    if (h != nullptr)
        return fail(ESPIPE);
    if (!is_real_file(fd))
        return fail(EBADF);
    return write_within_room(count, [&](size_t fits) { return ::pwrite(fd, buf, fits, offset); });
}

off_t lseek(int fd, off_t offset, int whence)
{
    if (Handle* h = handle(fd)) {
        if (h->node == Node::Cpld && board().i2c.cpld_seek_fails)
            return fail(EIO);
        if (h->node != Node::Flash && h->node != Node::Cpld)
            return fail(ESPIPE);
        off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? h->position : -1;
        if (base < 0 || base + offset < 0)
            return fail(EINVAL);
        h->position = base + offset;
        return h->position;
    }
    if (!is_real_file(fd))
        return fail(EBADF);
    return ::lseek(fd, offset, whence);
}

int ioctl(int fd, unsigned long request, void* arg)
{
    Handle* h = handle(fd);
    if (h == nullptr)
        return fail(is_real_file(fd) || fd == 0 ? ENOTTY : EBADF);
    if (h->node == Node::Flash)
        return flash_ioctl(*h, request, arg);
    if (h->node == Node::Socket)
        return socket_ioctl(request, arg);
    return fail(ENOTTY);
}

int ioctl(int fd, unsigned long request, unsigned long arg)
{
    Handle* h = handle(fd);
    if (h == nullptr)
        return fail(is_real_file(fd) || fd == 0 ? ENOTTY : EBADF);
    if (h->node != Node::Bus || request != I2C_SLAVE)
        return fail(ENOTTY);
    if (arg > 0x7F)
        return fail(EINVAL);
    h->slave = static_cast<int>(arg);
    return 0;
}

int access(const char* path_text, int mode)
{
    std::string path = path_text;
    record(Event::Kind::Access, path);
    std::string host = board().host_path(path);
    if (!host.empty())
        return ::access(host.c_str(), mode);
    return in_rootfs(path) ? 0 : fail(ENOENT);
}

std::unique_ptr<uint8_t[]> new_buffer(size_t count)
{
    const Memory& memory = board().memory;
    uint32_t n = ++state().allocations;
    bool refused = n == memory.fail_nth || (memory.fail_from_size != 0 && count >= memory.fail_from_size);
    if (refused)
        return nullptr;
    return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[count]);
}

// The emulated devices keep nothing back: a sync has nothing to write and is only recorded.
void sync() { record(Event::Kind::Sync, ""); }

int unlink(const char* path_text)
{
    std::string host = board().host_path(path_text);
    if (host.empty())
        return fail(in_rootfs(path_text) ? EACCES : ENOENT);
    return ::unlink(host.c_str());
}

// Terminal settings: the console (descriptor 0) and the serial port are terminals.
namespace {
termios* terminal(int fd, std::string* name)
{
    if (fd == 0) {
        if (!board().console.is_tty)
            return nullptr;
        *name = "console";
        return &sys().console;
    }
    Handle* h = handle(fd);
    if (h == nullptr || h->node != Node::Serial)
        return nullptr;
    *name = h->path;
    return &sys().serial;
}

int serial_real_fd(int fd)
{
    Handle* h = handle(fd);
    return h != nullptr && h->node == Node::Serial ? h->real_fd : -1;
}
}  // namespace

int tcgetattr(int fd, termios* settings)
{
    if (int real = serial_real_fd(fd); real >= 0)
        return ::tcgetattr(real, settings);
    std::string name;
    termios* t = terminal(fd, &name);
    if (t == nullptr)
        return fail(ENOTTY);
    if (t == &sys().serial && board().serial.settings_read_fails)
        return fail(EIO);
    *settings = *t;
    return 0;
}

int tcsetattr(int fd, int when, const termios* settings)
{
    std::string name;
    termios* t = terminal(fd, &name);
    if (t == nullptr)
        return fail(ENOTTY);
    record_tty(name, *settings);
    if (int real = serial_real_fd(fd); real >= 0)
        return ::tcsetattr(real, when, settings);
    *t = *settings;
    return 0;
}

namespace {
int terminal_step(int fd, const char* step, int (*real_call)(int, int), int argument)
{
    std::string name;
    if (terminal(fd, &name) == nullptr)
        return fail(ENOTTY);
    record(Event::Kind::Tty, name + " " + step);
    if (int real = serial_real_fd(fd); real >= 0 && real_call != nullptr)
        return real_call(real, argument);
    return 0;
}
}  // namespace

int tcdrain(int fd)
{
    return terminal_step(
        fd, "drain", [](int real, int) { return ::tcdrain(real); }, 0);
}
int tcflush(int fd, int queue)
{
    int result = terminal_step(fd, "flush", ::tcflush, queue);
    Handle* h = handle(fd);
    if (result == 0 && queue != TCOFLUSH && h != nullptr)
        discard_serial_input(*h);
    return result;
}
int tcflow(int fd, int action) { return terminal_step(fd, "flow", ::tcflow, action); }

int smbus_read_byte_data(int fd, uint8_t command)
{
    Handle* h = handle(fd);
    if (h == nullptr || h->node != Node::Bus)
        return fail(EBADF);
    if (!eeprom_answers(*h))
        return -1;
    int value = state().eeprom[command];
    record_formatted(Event::Kind::I2c, "0x54 read [%02x] = %02x", command, value);
    return value;
}

int smbus_write_byte_data(int fd, uint8_t command, uint8_t value)
{
    Handle* h = handle(fd);
    if (h == nullptr || h->node != Node::Bus)
        return fail(EBADF);
    if (!eeprom_answers(*h))
        return -1;
    state().eeprom[command] = value;
    record_formatted(Event::Kind::I2c, "0x54 write [%02x] = %02x", command, value);
    eeprom_write_stored();
    return 0;
}

int socket(int, int, int)
{
    if (board().net.socket_fails)
        return fail(EACCES);
    return open_node(Node::Socket, "socket", O_RDWR);
}

int sigaction(int signum, const struct sigaction* action, struct sigaction* old_action)
{
    return ::sigaction(signum, action, old_action);
}

int system(const char* command_text)
{
    std::string command = command_text;
    record(Event::Kind::Shell, command);
    if (board().shell.unavailable)
        return fail(ECHILD);
    const ShellEffect* effect = board().shell.effect_for(command);
    int status = effect != nullptr ? (*effect)(board(), command) : 0;
    return (status & 0xFF) << 8;
}

int execv(const char* path, char* const argv[])
{
    std::string text = path;
    for (int i = 0; argv != nullptr && argv[i] != nullptr; ++i)
        text += std::string("\x1f") + argv[i];
    record(Event::Kind::Exec, text);
    std::string host = board().host_path(path);
    bool present = host.empty() ? in_rootfs(path) : ::access(host.c_str(), X_OK) == 0;
    if (board().files.exec_fails || !present)
        return fail(ENOENT);
    // The new program starts with whatever stdio had not flushed lost, as a real exec loses it.
    finish(End::Exec, 0);
}

void exit(int status)
{
    std::fflush(stdout);
    std::fflush(stderr);
    record(Event::Kind::Exit, std::to_string(status));
    finish(End::Exited, status);
}

unsigned sleep(unsigned seconds)
{
    advance_clock(uint64_t{seconds} * 1000000);
    return 0;
}

int usleep(useconds_t microseconds)
{
    advance_clock(microseconds);
    return 0;
}

}  // namespace os
