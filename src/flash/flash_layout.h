// The flash map and the image record format shared by the slots, the other flash areas and the
// rescue download file.  A record is a 16-byte header of four big-endian words and its payload.
#pragma once

#include <cstdint>

struct ImageHeader {
    uint32_t crc;  // CRC-32 of record bytes 4 .. len + 15
    uint32_t len;  // payload bytes, header not included
    uint32_t magic;
    uint32_t id;  // carried along, never interpreted
};

constexpr uint32_t IMAGE_HEADER_SIZE = 16;

constexpr uint32_t IMAGE_MAGIC_APPLICATION = 0x014A414E;
constexpr uint32_t IMAGE_MAGIC_BOOTCODE = 0x024A414E;
constexpr uint32_t IMAGE_MAGIC_KERNEL = 0x034A414E;
constexpr uint32_t IMAGE_MAGIC_ROOTFS = 0x044A414E;
constexpr uint32_t IMAGE_MAGIC_TYPE5 = 0x054A414E;
constexpr uint32_t IMAGE_MAGIC_DIAGNOSTICS = 0x064A414E;

constexpr uint32_t FLASH_SLOT1_BASE = 0x00000000;
constexpr uint32_t FLASH_SLOT2_BASE = 0x00800000;
constexpr uint32_t FLASH_SLOT_SIZE = 0x00800000;
constexpr uint32_t FLASH_ROOTFS_BASE = 0x01000000;
constexpr uint32_t FLASH_ROOTFS_LIMIT = 0x00B00000;
constexpr uint32_t FLASH_KERNEL_BASE = 0x01E00000;
constexpr uint32_t FLASH_KERNEL_LIMIT = 0x00100000;
constexpr uint32_t FLASH_BOOTCODE_BASE = 0x03F00000;
constexpr uint32_t FLASH_BOOTCODE_LIMIT = 0x00040000;
constexpr uint32_t FLASH_ENV_BASE = 0x03FE0000;
// The boot loader's environment block, the last 128 KiB of the flash: a CRC word, then its text.
constexpr uint32_t FLASH_ENV_SIZE = 0x00020000;
// The launcher takes its boot options from this much of the text only.
constexpr uint32_t ENV_TEXT_SIZE = 512;

// The base of image slot 2 for 2, of slot 1 for any other number.
inline uint32_t slot_base(int slot) { return slot == 2 ? FLASH_SLOT2_BASE : FLASH_SLOT1_BASE; }

// Where the installer writes a record of a type it installs, and how big the record may be there.
// The installer and imgtool both read this one table, so that imgtool refuses what the board would.
struct RecordArea {
    uint32_t magic;
    uint32_t base;  // slot 1's for an application, which may go to either slot
    uint32_t limit;
    bool limits_payload;  // the limit counts the payload alone instead of the record total
};

inline constexpr RecordArea RECORD_AREAS[] = {
    {IMAGE_MAGIC_APPLICATION, FLASH_SLOT1_BASE, FLASH_SLOT_SIZE, false},
    {IMAGE_MAGIC_BOOTCODE, FLASH_BOOTCODE_BASE, FLASH_BOOTCODE_LIMIT, true},
    {IMAGE_MAGIC_KERNEL, FLASH_KERNEL_BASE, FLASH_KERNEL_LIMIT, false},
    {IMAGE_MAGIC_ROOTFS, FLASH_ROOTFS_BASE, FLASH_ROOTFS_LIMIT, false},
};

// The area records of this magic are installed into; null for the types the installer passes over
// (diagnostics and type 5) and for unknown magics.
constexpr const RecordArea* record_area(uint32_t magic)
{
    for (const RecordArea& area : RECORD_AREAS) {
        if (area.magic == magic)
            return &area;
    }
    return nullptr;
}

// One word stored most significant byte first.
uint32_t get_be32(const uint8_t* bytes);
void put_be32(uint32_t word, uint8_t* bytes);

// Decodes the four big-endian header words from the first 16 bytes of a record.
ImageHeader decode_image_header(const uint8_t* bytes);
// Writes the header as 16 big-endian bytes.
void encode_image_header(const ImageHeader& header, uint8_t* bytes);
// True for the six record types; any other magic ends a walk through a download.
bool is_known_image_magic(uint32_t magic);
