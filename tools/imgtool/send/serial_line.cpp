#include "imgtool/send/serial_line.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

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

std::optional<std::string> SerialLine::open(const std::string& path, unsigned speed, SerialLine& line)
{
    const auto reason = [&path](const char* what) {
        return "cannot " + std::string(what) + " " + path + ": " + strerror(errno);
    };
    // Non-blocking so that an adapter whose modem lines say "no carrier" does not hold up the open
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return reason("open");
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        const std::string failure = reason("use") + " (not a serial line)";
        ::close(fd);
        return failure;
    }
    line.fd_ = fd;
    line.path_ = path;
    line.saved_ = settings;
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &settings) != 0 || !line.set_speed(speed)) {
        const std::string failure = reason("set up");
        line.close();
        return failure;
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

bool SerialLine::write(std::span<const uint8_t> bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (count > 0) {
            done += static_cast<size_t>(count);
            continue;
        }
        if (count < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd waiting{fd_, POLLOUT, 0};
        if (poll(&waiting, 1, 1000) < 0 && errno != EINTR)
            return false;
        if ((waiting.revents & (POLLHUP | POLLERR)) != 0)
            return false;
    }
    return true;
}

bool SerialLine::write(const std::string& text)
{
    return write(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void SerialLine::discard_input() { tcflush(fd_, TCIFLUSH); }

void SerialLine::close()
{
    if (fd_ < 0)
        return;
    tcsetattr(fd_, TCSANOW, &saved_);
    ::close(fd_);
    fd_ = -1;
}
