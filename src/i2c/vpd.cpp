// The VPD EEPROM behind the CPLD gate and the image slot byte in it.
#include <cerrno>
#include <cstdio>
#include <linux/i2c-dev.h>

#include "i2c/i2c.h"
#include "i2c/i2c_internal.h"
#include "platform/os.h"

// Both EEPROM accesses run the whole road whatever fails on it: the gate must be cleared again
// even when it could not be set or the transfer failed, so that no road leaves the EEPROM
// routed to this processor.

int get_vpd_offset(uint16_t offset, int, uint8_t* out)
{
    set_sms_access(1);
    int fd = i2c_bus_fd(0);
    int selected = os::ioctl(fd, I2C_SLAVE, static_cast<unsigned long>(VPD_EEPROM_ADDR));
    int value = os::smbus_read_byte_data(fd, static_cast<uint8_t>(offset));
    *out = value < 0 ? 0xFF : static_cast<uint8_t>(value);
    set_sms_access(0);
    return selected < 0 ? selected : 0;
}

int set_vpd_offset(uint16_t offset, uint8_t value)
{
    set_sms_access(1);
    int fd = i2c_bus_fd(0);
    os::ioctl(fd, I2C_SLAVE, static_cast<unsigned long>(VPD_EEPROM_ADDR));
    int result = os::smbus_write_byte_data(fd, static_cast<uint8_t>(offset), value);
    // Clearing the gate may change errno; the report must name the write's own failure.
    int write_errno = errno;
    // The EEPROM's write cycle must end before it leaves the bus.
    os::usleep(100000);
    set_sms_access(0);
    if (result < 0)
        printf("I2C error when writing bus %d offset %d: %d\n", 0, offset, write_errno);
    return result;
}

unsigned api_get_image()
{
    uint8_t slot = 0;
    get_vpd_offset(VPD_SLOT_OFFSET, 1, &slot);
    return slot;
}

int api_set_image(uint8_t slot) { return set_vpd_offset(VPD_SLOT_OFFSET, slot); }

int api_set_booted_image(uint8_t) { return 0; }

int api_eeprom_read(uint8_t* buffer, uint16_t offset, int length)
{
    return get_vpd_offset(offset, length, buffer);
}
