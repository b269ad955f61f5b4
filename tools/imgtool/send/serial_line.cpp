#include "imgtool/send/serial_line.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "imgtool/send/device_group.h"
#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/line_holder.h"
#include "imgtool/send/session.h"
#include "imgtool/send/stop_signals.h"

std::optional<speed_t> termios_speed(unsigned speed)
{
    switch (speed) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    case 230400:
        return B230400;
    case 460800:
        return B460800;
    case 921600:
        return B921600;
    default:
        return std::nullopt;
    }
}

std::string no_line_text(const OpenFailure& failure)
{
    return failure.held_back ? failure.reason : "no board answered: " + failure.reason;
}

namespace {

// Beyond the bytes' own time on the wire, what an adapter may take before it counts as stalled: USB
// adapters hold bytes back for their own buffers and latency timers, for well under a second
constexpr std::chrono::milliseconds kStallMargin{3000};
constexpr long kWaitSliceMs = 100;

// Ten bits a byte: start, eight data bits, stop.
std::chrono::milliseconds time_on_wire(size_t bytes, unsigned speed)
{
    return std::chrono::milliseconds(speed == 0 ? 0 : bytes * 10 * 1000 / speed);
}

// "cannot open /dev/ttyUSB0: No such file or directory": what failed, on which line, and errno's word.
std::string cannot(std::string_view what, const std::string& path)
{
    return std::string(what) + " " + path + ": " + strerror(errno);
}

OpenFailure in_use(const std::string& path, const std::string& holder)
{
    return {path + " " + std::string(phrase::IN_USE) + (holder.empty() ? "" : " (" + holder + ")") +
                ": close it, then run imgtool send again",
            true};
}

OpenFailure not_permitted(const std::string& path)
{
    return {"cannot open " + path + ": " + std::string(phrase::PERMISSION_DENIED) + ": " +
                device_permission_advice(path),
            true};
}

}  // namespace

std::optional<OpenFailure> SerialLine::open(const std::string& path, unsigned speed, SerialLine& line)
{
    if (auto failure = keep_open(path, line))
        return failure;
    return line.take(speed);
}

std::optional<OpenFailure> SerialLine::keep_open(const std::string& path, SerialLine& line)
{
    // Non-blocking so that an adapter whose modem lines say "no carrier" does not hold up the open
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0 && errno == EACCES)
        return not_permitted(path);
    if (fd < 0 && errno == EBUSY) {
        // Opened exclusively by another program
        struct stat device {};
        return in_use(path, stat(path.c_str(), &device) == 0 ? device_holder(device.st_rdev) : "");
    }
    if (fd < 0)
        return OpenFailure{cannot("cannot open", path), false};
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        const std::string failure =
            cannot("cannot use", path) + " (" + std::string(phrase::NOT_A_SERIAL_LINE) + ")";
        ::close(fd);
        return OpenFailure{failure, false};
    }
    line.fd_ = fd;
    line.path_ = path;
    return std::nullopt;
}

std::optional<OpenFailure> SerialLine::held_by_another()
{
    struct stat device {};
    fstat(fd_, &device);
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0)
        return in_use(path_, device_holder(device.st_rdev));
    // Lock files are named after the device node the link resolves to, as a terminal program given
    // /dev/ttyUSB0 names it
    std::error_code error;
    const std::string name = std::filesystem::canonical(path_, error).filename().string();
    for (const char* directory : LINE_LOCK_DIRS) {
        if (const std::optional<pid_t> holder = lock_file_holder(directory, name))
            return in_use(path_, process_text(*holder));
    }
    return std::nullopt;
}

std::optional<OpenFailure> SerialLine::take(unsigned speed)
{
    if (auto failure = held_by_another()) {
        close();
        return failure;
    }
    termios settings{};
    if (ioctl(fd_, TIOCEXCL) != 0 || tcgetattr(fd_, &settings) != 0) {
        const std::string failure = cannot(phrase::CANNOT_TAKE, path_);
        close();
        return OpenFailure{failure, false};
    }
    taken_ = true;
    saved_ = settings;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd_, TCSANOW, &settings) != 0 || !set_speed(speed)) {
        const std::string failure = cannot(phrase::CANNOT_SET_UP, path_);
        close();
        return OpenFailure{failure, false};
    }
    return std::nullopt;
}

SerialLine::~SerialLine() { close(); }

bool SerialLine::set_speed(unsigned speed)
{
    const std::optional<speed_t> code = termios_speed(speed);
    termios settings{};
    if (!code || tcgetattr(fd_, &settings) != 0)
        return false;
    // What was written at the old speed must leave at it
    tcdrain(fd_);
    cfsetispeed(&settings, *code);
    cfsetospeed(&settings, *code);
    if (tcsetattr(fd_, TCSANOW, &settings) != 0)
        return false;
    speed_ = speed;
    return true;
}

long SerialLine::read(std::span<uint8_t> bytes, int timeout_ms)
{
    pollfd waiting{fd_, POLLIN, 0};
    const int ready = poll(&waiting, 1, timeout_ms);
    if (ready < 0)
        return errno == EINTR ? 0 : -1;
    if (ready == 0)
        return 0;
    const ssize_t count = ::read(fd_, bytes.data(), bytes.size());
    if (count > 0)
        return count;
    if (count < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    // End of file or an error with input ready: the far end hung up or the adapter went away
    return -1;
}

WriteResult SerialLine::write(std::span<const uint8_t> bytes)
{
    const auto deadline =
        std::chrono::steady_clock::now() + time_on_wire(bytes.size(), speed_) + kStallMargin;
    const int presses = operator_interrupts.load();
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (count > 0) {
            done += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            return WriteResult::Gone;
        if (leaving_at_once() || operator_interrupts.load() != presses)
            return WriteResult::Stopped;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return WriteResult::Stalled;
        // In slices, as another thread may take the signal that ends the wait
        pollfd waiting{fd_, POLLOUT, 0};
        if (poll(&waiting, 1, static_cast<int>(std::min<long>(left.count(), kWaitSliceMs))) < 0 &&
            errno != EINTR)
            return WriteResult::Gone;
        if ((waiting.revents & (POLLHUP | POLLERR)) != 0)
            return WriteResult::Gone;
    }
    return WriteResult::Done;
}

WriteResult SerialLine::write(const std::string& text)
{
    return write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void SerialLine::discard_input() { tcflush(fd_, TCIFLUSH); }

void SerialLine::close()
{
    if (fd_ < 0)
        return;
    if (taken_) {
        tcsetattr(fd_, TCSANOW, &saved_);
        // The exclusive mark outlives this descriptor while another is open (a pty's other users)
        ioctl(fd_, TIOCNXCL);
        taken_ = false;
    }
    ::close(fd_);
    fd_ = -1;
}
