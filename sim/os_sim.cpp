// The operating system of the simulated board: os.h over the emulated devices of a Board.
//
// Device nodes get descriptors from 1000 up; files under /tmp are real files in the test's
// directory with their real descriptors; every other path does not exist.  Nothing here reaches a
// device, a program or a file of the host outside the board's directory.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/ethtool.h>
#include <linux/i2c-dev.h>
#include <linux/sockios.h>
#include <map>
#include <mtd/mtd-user.h>
#include <net/if.h>
#include <set>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/os.h"
#include "sim/state.h"

namespace sim {
namespace {

enum class Node { Flash, Bus, Cpld, Serial, Socket };

struct Handle {
    Node node;
    std::string path;
    off_t position = 0;
    int slave = -1;       // I2C address selected on a bus
    int real_fd = -1;     // a passed-through serial port
};

// The emulated system's state in the child; fresh for every run.
struct System {
    std::map<int, Handle> handles;
    std::set<int> real_files;          // descriptors of files under /tmp, by their real number
    std::map<int, std::string> real_paths;
    int next_fd = 1000;
    size_t console_next = 0;
    termios console{};
    termios serial{};
};

System* g_system = nullptr;

System& sys() { return *g_system; }
Board& board() { return active_board(); }
SharedState& state() { return active_state(); }

int fail(int error) {
    errno = error;
    return -1;
}

Handle* handle(int fd) {
    auto it = sys().handles.find(fd);
    return it == sys().handles.end() ? nullptr : &it->second;
}

bool is_real_file(int fd) { return sys().real_files.count(fd) != 0; }

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

void advance_clock(uint64_t microseconds) {
    record_sleep(microseconds);
    state().now_us += microseconds;
    if (!board().serial.passthrough_path.empty()) ::usleep(static_cast<useconds_t>(microseconds));
    if (state().now_us > board().virtual_limit_us) finish(End::Hung, 0);
}

// ---------------------------------------------------------------- flash

bool fault_hits(FlashOp op, uint32_t count, uint64_t start, uint64_t length, bool* short_transfer) {
    for (const FlashFault& f : board().flash.faults) {
        if (f.op != op) continue;
        if (f.nth != 0 && f.nth != count) continue;
        if (f.addr && !(*f.addr >= start && *f.addr < start + std::max<uint64_t>(length, 1))) continue;
        *short_transfer = f.short_transfer;
        return true;
    }
    return false;
}

void maybe_power_cut(uint32_t count, uint32_t cut_after) {
    if (cut_after != 0 && count == cut_after) {
        record(Event::Kind::PowerCut, "");
        finish(End::PowerCut, 0);
    }
}

ssize_t flash_transfer(FlashOp op, void* buf, size_t count, off_t offset) {
    FlashCounters& c = state().flash_counters;
    uint32_t n = op == FlashOp::Read ? ++c.reads : ++c.writes;
    if (offset < 0) return fail(EINVAL);
    uint64_t size = Flash::kArraySize;
    uint64_t start = static_cast<uint64_t>(offset);
    uint64_t length = start >= size ? 0 : std::min<uint64_t>(count, size - start);
    if (op == FlashOp::Write && count > 0 && length == 0) return fail(ENOSPC);
    bool short_transfer = false;
    if (fault_hits(op, n, start, count, &short_transfer)) {
        if (!short_transfer) return fail(EIO);
        length /= 2;
    }
    uint8_t* cells = board().flash.data() + start;
    if (op == FlashOp::Read) {
        std::memcpy(buf, cells, length);
        c.bytes_read += length;
    } else {
        // NOR programming only clears bits; only an erase sets them again.
        const auto* data = static_cast<const uint8_t*>(buf);
        for (uint64_t i = 0; i < length; ++i) cells[i] &= data[i];
        c.bytes_written += length;
        maybe_power_cut(n, board().flash.power_cut_after_write);
    }
    return static_cast<ssize_t>(length);
}

int flash_ioctl(unsigned long request, void* arg) {
    Flash& flash = board().flash;
    if (request == MEMGETINFO) {
        if (flash.info_fails) return fail(EINVAL);
        auto* info = static_cast<mtd_info_user*>(arg);
        *info = {};
        info->type = MTD_NORFLASH;
        info->flags = MTD_CAP_NORFLASH;
        info->size = flash.reported_size;
        info->erasesize = flash.reported_erase_size;
        info->writesize = 1;
        return 0;
    }
    if (request == MEMERASE) {
        const auto* erase = static_cast<const erase_info_user*>(arg);
        uint32_t n = ++state().flash_counters.erases;
        uint64_t start = erase->start;
        uint64_t length = erase->length;
        bool aligned = start % Flash::kBlockSize == 0 && length % Flash::kBlockSize == 0;
        if (!aligned || length == 0 || start + length > Flash::kArraySize) return fail(EINVAL);
        bool ignored = false;
        if (fault_hits(FlashOp::Erase, n, start, length, &ignored)) return fail(EIO);
        std::memset(flash.data() + start, 0xFF, length);
        state().flash_counters.bytes_erased += length;
        maybe_power_cut(n, flash.power_cut_after_erase);
        return 0;
    }
    return fail(ENOTTY);
}

// ---------------------------------------------------------------- I2C bus and CPLD

bool gate_open() { return (state().cpld[I2c::kCpldGateRegister] & I2c::kCpldGateBit) != 0; }

// One transfer with the EEPROM; false with errno set when it does not take place.
bool eeprom_answers(const Handle& bus) {
    I2c& i2c = board().i2c;
    uint32_t n = ++state().i2c_transfers;
    if (i2c.fail_transfer_nth == n) return fail(EIO), false;
    if (bus.slave != I2c::kEepromAddress || i2c.eeprom_missing) return fail(ENXIO), false;
    if (!gate_open()) {
        ++state().gate_refusals;
        return fail(ENXIO), false;
    }
    return true;
}

void record_formatted(Event::Kind kind, const char* format, int a, int b) {
    char text[64];
    std::snprintf(text, sizeof text, format, a, b);
    record(kind, text);
}

ssize_t bus_write(Handle& bus, const void* buf, size_t count) {
    if (!eeprom_answers(bus)) return -1;
    const auto* bytes = static_cast<const uint8_t*>(buf);
    std::string text = "0x54 write";
    for (size_t i = 0; i < count; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, " %02x", bytes[i]);
        text += byte;
    }
    record(Event::Kind::I2c, text);
    // The EEPROM takes one address byte, then stores the rest from there on.
    if (count > 0) bus.position = bytes[0];
    for (size_t i = 1; i < count; ++i) state().eeprom[(bus.position++) & 0xFF] = bytes[i];
    return static_cast<ssize_t>(count);
}

ssize_t bus_read(Handle& bus, void* buf, size_t count) {
    if (!eeprom_answers(bus)) return -1;
    size_t delivered = board().i2c.short_plain_read && count > 0 ? count - 1 : count;
    auto* bytes = static_cast<uint8_t*>(buf);
    for (size_t i = 0; i < delivered; ++i) bytes[i] = state().eeprom[(bus.position++) & 0xFF];
    record_formatted(Event::Kind::I2c, "0x54 read %d of %d", static_cast<int>(delivered), static_cast<int>(count));
    return static_cast<ssize_t>(delivered);
}

ssize_t cpld_transfer(Handle& h, void* buf, size_t count, bool writing) {
    I2c& i2c = board().i2c;
    if (writing ? i2c.cpld_write_fails : i2c.cpld_read_fails) return fail(EIO);
    if (count == 0) return 0;
    if (h.position < 0 || h.position >= 256) return 0;
    uint8_t& reg = state().cpld[h.position];
    if (writing) {
        reg = *static_cast<const uint8_t*>(buf);
        record_formatted(Event::Kind::Cpld, "%d=%02x", static_cast<int>(h.position), reg);
    } else {
        *static_cast<uint8_t*>(buf) = reg;
    }
    ++h.position;
    return 1;
}

// ---------------------------------------------------------------- serial port

ssize_t serial_read(Handle& h, void* buf, size_t count) {
    if (h.real_fd >= 0) {
        ssize_t n = ::read(h.real_fd, buf, count);
        if (n > 0) record(Event::Kind::SerialRx, buf, static_cast<uint32_t>(n));
        return n;
    }
    auto* bytes = static_cast<uint8_t*>(buf);
    size_t n = 0;
    SerialPeer* peer = board().serial.peer.get();
    while (peer != nullptr && n < count) {
        std::optional<uint8_t> b = peer->send(state().now_us);
        if (!b) break;
        bytes[n++] = *b;
    }
    if (n == 0) return fail(EAGAIN);
    record(Event::Kind::SerialRx, bytes, static_cast<uint32_t>(n));
    return static_cast<ssize_t>(n);
}

ssize_t serial_write(Handle& h, const void* buf, size_t count) {
    record(Event::Kind::SerialTx, buf, static_cast<uint32_t>(count));
    if (h.real_fd >= 0) return ::write(h.real_fd, buf, count);
    const auto* bytes = static_cast<const uint8_t*>(buf);
    if (SerialPeer* peer = board().serial.peer.get())
        for (size_t i = 0; i < count; ++i) peer->receive(bytes[i], state().now_us);
    return static_cast<ssize_t>(count);
}

// ---------------------------------------------------------------- console

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

// ---------------------------------------------------------------- network interface

int socket_ioctl(unsigned long request, void* arg) {
    Net& net = board().net;
    auto* request_record = static_cast<ifreq*>(arg);
    if (std::strncmp(request_record->ifr_name, "eth0", IFNAMSIZ) != 0 || net.interface_missing) return fail(ENODEV);
    switch (request) {
    case SIOCGIFINDEX: request_record->ifr_ifindex = 2; return 0;
    case SIOCGIFFLAGS:
        if (net.flags_fail) return fail(EIO);
        request_record->ifr_flags = net.flags;
        return 0;
    case SIOCETHTOOL: {
        if (net.ethtool_fails) return fail(EOPNOTSUPP);
        auto* value = reinterpret_cast<ethtool_value*>(request_record->ifr_data);
        if (value->cmd != ETHTOOL_GLINK) return fail(EOPNOTSUPP);
        value->data = net.link ? 1 : 0;
        return 0;
    }
    default: return fail(ENOTTY);
    }
}

// ---------------------------------------------------------------- paths

bool in_rootfs(const std::string& path) {
    const std::vector<std::string>& files = board().files.rootfs;
    return std::find(files.begin(), files.end(), path) != files.end();
}

bool open_refused(const std::string& path) {
    const std::vector<std::string>& refused = board().files.open_fails;
    return std::find(refused.begin(), refused.end(), path) != refused.end();
}

int open_node(Node node, const std::string& path) {
    int fd = sys().next_fd++;
    sys().handles[fd] = Handle{node, path};
    record(Event::Kind::Open, path);
    return fd;
}

int open_serial(const std::string& path, int flags) {
    Serial& serial = board().serial;
    if (serial.missing) return fail(ENOENT);
    int real_fd = -1;
    if (!serial.passthrough_path.empty()) {
        real_fd = ::open(serial.passthrough_path.c_str(), flags);
        if (real_fd < 0) return -1;
    }
    int fd = open_node(Node::Serial, path);
    sys().handles[fd].real_fd = real_fd;
    return fd;
}

}  // namespace

void begin_run_in_child() {
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

int open(const char* path_text, int flags, mode_t mode) {
    std::string path = path_text;
    if (open_refused(path)) return fail(EACCES);
    I2c& i2c = board().i2c;
    if (path == "/dev/mtd0") return board().flash.missing ? fail(ENOENT) : open_node(Node::Flash, path);
    if (path == "/dev/i2c-0") return i2c.bus_missing ? fail(ENOENT) : open_node(Node::Bus, path);
    if (path == "/dev/tavik/cpld_mmmap") return i2c.cpld_missing ? fail(ENOENT) : open_node(Node::Cpld, path);
    if (path == "/dev/ttyS0") return open_serial(path, flags);
    std::string host = board().host_path(path);
    if (host.empty()) return fail(in_rootfs(path) ? EACCES : ENOENT);
    int fd = ::open(host.c_str(), flags, mode);
    if (fd < 0) return -1;
    sys().real_files.insert(fd);
    sys().real_paths[fd] = path;
    record(Event::Kind::Open, path);
    return fd;
}

int close(int fd) {
    if (Handle* h = handle(fd)) {
        if (h->real_fd >= 0) ::close(h->real_fd);
        record(Event::Kind::Close, h->path);
        sys().handles.erase(fd);
        return 0;
    }
    if (!is_real_file(fd)) return fail(EBADF);
    record(Event::Kind::Close, sys().real_paths[fd]);
    sys().real_files.erase(fd);
    sys().real_paths.erase(fd);
    return ::close(fd);
}

ssize_t read(int fd, void* buf, size_t count) {
    if (fd == 0) return console_read(buf, count);
    if (Handle* h = handle(fd)) {
        switch (h->node) {
        case Node::Flash: {
            ssize_t n = flash_transfer(FlashOp::Read, buf, count, h->position);
            if (n > 0) h->position += n;
            return n;
        }
        case Node::Bus: return bus_read(*h, buf, count);
        case Node::Cpld: return cpld_transfer(*h, buf, count, false);
        case Node::Serial: return serial_read(*h, buf, count);
        case Node::Socket: return fail(ENOTCONN);
        }
    }
    if (!is_real_file(fd)) return fail(EBADF);
    return ::read(fd, buf, count);
}

ssize_t write(int fd, const void* buf, size_t count) {
    if (fd == 1 || fd == 2) {
        std::fflush(fd == 1 ? stdout : stderr);
        record(fd == 1 ? Event::Kind::Out : Event::Kind::Err, buf, static_cast<uint32_t>(count));
        return static_cast<ssize_t>(count);
    }
    if (Handle* h = handle(fd)) {
        switch (h->node) {
        case Node::Flash: {
            ssize_t n = flash_transfer(FlashOp::Write, const_cast<void*>(buf), count, h->position);
            if (n > 0) h->position += n;
            return n;
        }
        case Node::Bus: return bus_write(*h, buf, count);
        case Node::Cpld: return cpld_transfer(*h, const_cast<void*>(buf), count, true);
        case Node::Serial: return serial_write(*h, buf, count);
        case Node::Socket: return fail(ENOTCONN);
        }
    }
    if (!is_real_file(fd)) return fail(EBADF);
    if (board().files.tmp_full && count > 0) return fail(ENOSPC);
    return ::write(fd, buf, count);
}

ssize_t pread(int fd, void* buf, size_t count, off_t offset) {
    Handle* h = handle(fd);
    if (h != nullptr && h->node == Node::Flash) return flash_transfer(FlashOp::Read, buf, count, offset);
    if (h != nullptr) return fail(ESPIPE);
    if (!is_real_file(fd)) return fail(EBADF);
    return ::pread(fd, buf, count, offset);
}

ssize_t pwrite(int fd, const void* buf, size_t count, off_t offset) {
    Handle* h = handle(fd);
    if (h != nullptr && h->node == Node::Flash)
        return flash_transfer(FlashOp::Write, const_cast<void*>(buf), count, offset);
    if (h != nullptr) return fail(ESPIPE);
    if (!is_real_file(fd)) return fail(EBADF);
    if (board().files.tmp_full && count > 0) return fail(ENOSPC);
    return ::pwrite(fd, buf, count, offset);
}

off_t lseek(int fd, off_t offset, int whence) {
    if (Handle* h = handle(fd)) {
        if (h->node == Node::Cpld && board().i2c.cpld_seek_fails) return fail(EIO);
        if (h->node != Node::Flash && h->node != Node::Cpld) return fail(ESPIPE);
        off_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? h->position : -1;
        if (base < 0 || base + offset < 0) return fail(EINVAL);
        h->position = base + offset;
        return h->position;
    }
    if (!is_real_file(fd)) return fail(EBADF);
    return ::lseek(fd, offset, whence);
}

int ioctl(int fd, unsigned long request, void* arg) {
    Handle* h = handle(fd);
    if (h == nullptr) return fail(is_real_file(fd) || fd == 0 ? ENOTTY : EBADF);
    if (h->node == Node::Flash) return flash_ioctl(request, arg);
    if (h->node == Node::Socket) return socket_ioctl(request, arg);
    return fail(ENOTTY);
}

int ioctl(int fd, unsigned long request, unsigned long arg) {
    Handle* h = handle(fd);
    if (h == nullptr) return fail(is_real_file(fd) || fd == 0 ? ENOTTY : EBADF);
    if (h->node != Node::Bus || request != I2C_SLAVE) return fail(ENOTTY);
    if (arg > 0x7F) return fail(EINVAL);
    h->slave = static_cast<int>(arg);
    return 0;
}

int access(const char* path_text, int mode) {
    std::string path = path_text;
    record(Event::Kind::Access, path);
    std::string host = board().host_path(path);
    if (!host.empty()) return ::access(host.c_str(), mode);
    return in_rootfs(path) ? 0 : fail(ENOENT);
}

int unlink(const char* path_text) {
    std::string host = board().host_path(path_text);
    if (host.empty()) return fail(in_rootfs(path_text) ? EACCES : ENOENT);
    return ::unlink(host.c_str());
}

// Terminal settings: the console (descriptor 0) and the serial port are terminals.
namespace {
termios* terminal(int fd, std::string* name) {
    if (fd == 0) {
        if (!board().console.is_tty) return nullptr;
        *name = "console";
        return &sys().console;
    }
    Handle* h = handle(fd);
    if (h == nullptr || h->node != Node::Serial) return nullptr;
    *name = h->path;
    return &sys().serial;
}

int serial_real_fd(int fd) {
    Handle* h = handle(fd);
    return h != nullptr && h->node == Node::Serial ? h->real_fd : -1;
}
}  // namespace

int tcgetattr(int fd, termios* settings) {
    if (int real = serial_real_fd(fd); real >= 0) return ::tcgetattr(real, settings);
    std::string name;
    termios* t = terminal(fd, &name);
    if (t == nullptr) return fail(ENOTTY);
    *settings = *t;
    return 0;
}

int tcsetattr(int fd, int when, const termios* settings) {
    std::string name;
    termios* t = terminal(fd, &name);
    if (t == nullptr) return fail(ENOTTY);
    record_tty(name, *settings);
    if (int real = serial_real_fd(fd); real >= 0) return ::tcsetattr(real, when, settings);
    *t = *settings;
    return 0;
}

namespace {
int terminal_step(int fd, const char* step, int (*real_call)(int, int), int argument) {
    std::string name;
    if (terminal(fd, &name) == nullptr) return fail(ENOTTY);
    record(Event::Kind::Tty, name + " " + step);
    if (int real = serial_real_fd(fd); real >= 0 && real_call != nullptr) return real_call(real, argument);
    return 0;
}
}  // namespace

int tcdrain(int fd) { return terminal_step(fd, "drain", [](int real, int) { return ::tcdrain(real); }, 0); }
int tcflush(int fd, int queue) { return terminal_step(fd, "flush", ::tcflush, queue); }
int tcflow(int fd, int action) { return terminal_step(fd, "flow", ::tcflow, action); }

int smbus_read_byte_data(int fd, uint8_t command) {
    Handle* h = handle(fd);
    if (h == nullptr || h->node != Node::Bus) return fail(EBADF);
    if (!eeprom_answers(*h)) return -1;
    int value = state().eeprom[command];
    record_formatted(Event::Kind::I2c, "0x54 read [%02x] = %02x", command, value);
    return value;
}

int smbus_write_byte_data(int fd, uint8_t command, uint8_t value) {
    Handle* h = handle(fd);
    if (h == nullptr || h->node != Node::Bus) return fail(EBADF);
    if (!eeprom_answers(*h)) return -1;
    state().eeprom[command] = value;
    record_formatted(Event::Kind::I2c, "0x54 write [%02x] = %02x", command, value);
    return 0;
}

int socket(int, int, int) {
    if (board().net.socket_fails) return fail(EACCES);
    return open_node(Node::Socket, "socket");
}

int sigaction(int signum, const struct sigaction* action, struct sigaction* old_action) {
    return ::sigaction(signum, action, old_action);
}

int system(const char* command_text) {
    std::string command = command_text;
    record(Event::Kind::Shell, command);
    if (board().shell.unavailable) return fail(ECHILD);
    const ShellEffect* effect = board().shell.effect_for(command);
    int status = effect != nullptr ? (*effect)(board(), command) : 0;
    return (status & 0xFF) << 8;
}

int execv(const char* path, char* const argv[]) {
    std::string text = path;
    for (int i = 0; argv != nullptr && argv[i] != nullptr; ++i) text += std::string("\x1f") + argv[i];
    record(Event::Kind::Exec, text);
    std::string host = board().host_path(path);
    bool present = host.empty() ? in_rootfs(path) : ::access(host.c_str(), X_OK) == 0;
    if (board().files.exec_fails || !present) return fail(ENOENT);
    // The new program starts with whatever stdio had not flushed lost, as a real exec loses it.
    finish(End::Exec, 0);
}

void exit(int status) {
    std::fflush(stdout);
    std::fflush(stderr);
    record(Event::Kind::Exit, std::to_string(status));
    finish(End::Exited, status);
}

unsigned sleep(unsigned seconds) {
    advance_clock(uint64_t{seconds} * 1000000);
    return 0;
}

int usleep(useconds_t microseconds) {
    advance_clock(microseconds);
    return 0;
}

}  // namespace os
