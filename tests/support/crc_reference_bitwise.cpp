#include "crc_bitwise.h"
#include "crc_reference.h"

uint32_t crc_reference(const uint8_t* data, uint32_t length, uint32_t start)
{
    return crc_bitwise(data, length, start);
}
