// Image headers are stored most significant byte first on flash and in download files, whatever the
// host's byte order.
#include "flash/flash_layout.h"

uint32_t get_be32(const uint8_t* bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
           uint32_t{bytes[3]};
}

void put_be32(uint32_t word, uint8_t* bytes)
{
    bytes[0] = static_cast<uint8_t>(word >> 24);
    bytes[1] = static_cast<uint8_t>(word >> 16);
    bytes[2] = static_cast<uint8_t>(word >> 8);
    bytes[3] = static_cast<uint8_t>(word);
}

ImageHeader decode_image_header(const uint8_t* bytes)
{
    return ImageHeader{get_be32(bytes), get_be32(bytes + 4), get_be32(bytes + 8), get_be32(bytes + 12)};
}

void encode_image_header(const ImageHeader& header, uint8_t* bytes)
{
    put_be32(header.crc, bytes);
    put_be32(header.len, bytes + 4);
    put_be32(header.magic, bytes + 8);
    put_be32(header.id, bytes + 12);
}

bool is_known_image_magic(uint32_t magic)
{
    switch (magic) {
    case IMAGE_MAGIC_APPLICATION:
    case IMAGE_MAGIC_BOOTCODE:
    case IMAGE_MAGIC_KERNEL:
    case IMAGE_MAGIC_ROOTFS:
    case IMAGE_MAGIC_TYPE5:
    case IMAGE_MAGIC_DIAGNOSTICS:
        return true;
    default:
        return false;
    }
}
