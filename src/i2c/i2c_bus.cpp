// The bus descriptor table and plain register reads on a bus.
#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/i2c-dev.h>

#include "i2c/i2c.h"
#include "i2c/i2c_internal.h"
#include "platform/os.h"

namespace {

// -1: not open (never opened, the open failed, or closed again), else the open descriptor.
std::array<int, I2C_BUS_COUNT> i2c_file = [] {
    std::array<int, I2C_BUS_COUNT> closed;
    closed.fill(-1);
    return closed;
}();

}  // namespace

int i2c_bus_fd(int bus)
{
    if (bus < 0 || bus >= I2C_BUS_COUNT)
        return -1;
    return i2c_file[bus];
}

int api_i2c_init()
{
    for (int bus = 0; bus < I2C_BUS_COUNT; bus++) {
        char path[32];
        snprintf(path, sizeof path, "/dev/i2c-%d", bus);
        i2c_file[bus] = os::open(path, O_RDWR);
        if (i2c_file[bus] < 0) {
            printf("ERROR: driver %s couldn't be opened\n", path);
            return -1;
        }
    }
    return 0;
}

int api_i2c_close()
{
    for (int& fd : i2c_file) {
        if (fd >= 0) {
            os::close(fd);
            fd = -1;
        }
    }
    return 0;
}

int i2c_read(int bus, int device, uint16_t offset, int length, int offset_width, uint8_t* buffer)
{
    if (length < 0 || offset_width < 0 || offset_width > 2)
        return 0;

    uint8_t prefix[2];
    if (offset_width == 2) {
        prefix[0] = static_cast<uint8_t>(offset >> 8);
        prefix[1] = static_cast<uint8_t>(offset);
    } else {
        prefix[0] = static_cast<uint8_t>(offset);
    }

    int fd = i2c_bus_fd(bus);
    if (os::ioctl(fd, I2C_SLAVE, static_cast<unsigned long>(device >> 1)) < 0) {
        printf("I2C error when setting bus %d, device 0x%x: %d\n", bus, static_cast<unsigned>(device), errno);
        return 0;
    }

    // Zero-length transfers are skipped: some adapters refuse them and none has anything to move.
    // errno is cleared first so that a short transfer, which sets none, does not report a stale one.
    if (offset_width > 0) {
        errno = 0;
        if (os::write(fd, prefix, offset_width) != offset_width) {
            printf("I2C error - device 0x%x writing bus %d offset %d: %d\n", static_cast<unsigned>(device),
                   bus, offset, errno);
            return 0;
        }
    }
    if (length > 0) {
        errno = 0;
        if (os::read(fd, buffer, length) != length) {
            printf("I2C error - device 0x%x @ %d, %d bytes : %d\n", static_cast<unsigned>(device), offset,
                   length, errno);
            return 0;
        }
    }
    return length;
}

int api_ubootenv_read(void* buffer, uint16_t, int)
{
    return i2c_read(0, 0, 0, 0, 0, static_cast<uint8_t*>(buffer));
}
