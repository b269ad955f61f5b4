#include "flash/flash.h"

#include <cstdint>

#include "flash/flash_sectors.h"
#include "platform/os.h"

namespace {

// Without usable flash every range is refused.  A range is checked in 64 bits so that one running
// past 4 GiB cannot wrap around onto the start of the device.
bool range_on_device(uint32_t offset, uint32_t length)
{
    return theFlash.total_size != 0 && uint64_t{offset} + length <= theFlash.total_size;
}

}  // namespace

int api_flash_init() { return flash_open() ? 0 : -1; }

int api_flash_read(uint8_t* buffer, int fd, uint32_t offset, uint32_t length)
{
    if (!range_on_device(offset, length))
        return -1;
    return flash_read(buffer, fd, length, offset) ? 0 : -1;
}

int api_flash_write(const uint8_t* buffer, int fd, uint32_t offset, uint32_t length)
{
    if (!range_on_device(offset, length))
        return -1;
    if (!flash_write(buffer, fd, length, offset))
        return -1;
    // A write reported done must be on the flash before the caller goes on to select what it wrote.
    // The descriptor is opened for synchronous writes, but an MTD over a block device (block2mtd)
    // keeps them in the page cache all the same, and a power cut then leaves the slot byte naming
    // a slot whose new image never reached the device.
    os::sync();
    return 0;
}

int api_flash_erase(int fd, uint32_t offset, uint32_t length)
{
    if (!range_on_device(offset, length))
        return -1;
    return flash_erase(fd, length, offset) ? 0 : -1;
}
