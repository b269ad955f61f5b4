// The emulated serial port "/dev/ttyS0": a peer on virtual time, or a real device passed through.
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "sim/emulated_system.h"

namespace sim {

ssize_t serial_read(Handle& h, void* buf, size_t count)
{
    if (h.real_fd >= 0) {
        ssize_t n = ::read(h.real_fd, buf, count);
        if (n > 0)
            record(Event::Kind::SerialRx, buf, static_cast<uint32_t>(n));
        return n;
    }
    auto* bytes = static_cast<uint8_t*>(buf);
    size_t n = 0;
    SerialPeer* peer = board().serial.peer.get();
    while (peer != nullptr && n < count) {
        std::optional<uint8_t> b = peer->send(state().now_us);
        if (!b)
            break;
        bytes[n++] = *b;
    }
    if (n == 0)
        return fail(EAGAIN);
    record(Event::Kind::SerialRx, bytes, static_cast<uint32_t>(n));
    return static_cast<ssize_t>(n);
}

ssize_t serial_write(Handle& h, const void* buf, size_t count)
{
    record(Event::Kind::SerialTx, buf, static_cast<uint32_t>(count));
    if (h.real_fd >= 0)
        return ::write(h.real_fd, buf, count);
    const auto* bytes = static_cast<const uint8_t*>(buf);
    if (SerialPeer* peer = board().serial.peer.get())
        for (size_t i = 0; i < count; ++i)
            peer->receive(bytes[i], state().now_us);
    return static_cast<ssize_t>(count);
}

void discard_serial_input(Handle& h)
{
    SerialPeer* peer = board().serial.peer.get();
    if (h.real_fd >= 0 || peer == nullptr)
        return;
    while (peer->send(state().now_us)) {
    }
}

int open_serial(const std::string& path, int flags)
{
    Serial& serial = board().serial;
    if (serial.missing)
        return fail(ENOENT);
    int real_fd = -1;
    if (!serial.passthrough_path.empty()) {
        real_fd = ::open(serial.passthrough_path.c_str(), flags);
        if (real_fd < 0)
            return -1;
    }
    int fd = open_node(Node::Serial, path, flags);
    sys().handles[fd].real_fd = real_fd;
    return fd;
}

}  // namespace sim
