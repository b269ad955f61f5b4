#include <cstring>

#include "flash/flash.h"
#include "launch/launch_internal.h"

ImageHeader read_slot_header(uint32_t base)
{
    uint8_t bytes[IMAGE_HEADER_SIZE];
    if (api_flash_read(bytes, flash_fd, base, sizeof bytes) < 0)
        memset(bytes, 0xFF, sizeof bytes);
    return decode_image_header(bytes);
}
