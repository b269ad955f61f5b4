#include <zlib.h>

#include "crc_reference.h"

// zlib inverts the register on the way in and out; gen_crc leaves both to its callers.
uint32_t crc_reference(const uint8_t* data, uint32_t length, uint32_t start)
{
    return ~static_cast<uint32_t>(crc32(~start & 0xFFFFFFFFu, data, length));
}
