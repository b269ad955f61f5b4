#include "flash/flash_sectors.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "platform/os.h"

namespace {

struct SectorRange {
    uint32_t first;  // start of the sector holding the range's first byte
    uint32_t count;  // 0 for an empty range at a sector boundary, 1 for one inside a sector
};

// Computed in 64 bits: the end of a range at the top of a 4 GiB space must not wrap to 0.
SectorRange sector_range(uint32_t offset, uint32_t length)
{
    const uint64_t size = theFlash.sector_size;
    const uint64_t first = offset & ~(size - 1);
    const uint64_t end = (uint64_t{offset} + length + size - 1) & ~(size - 1);
    return {static_cast<uint32_t>(first), static_cast<uint32_t>((end - first) >> theFlash.sector_shift)};
}

// Puts the part of the range that falls in the sector at address into the sector's image, then
// replaces the sector with it.  Says which step failed.
bool rewrite_sector(uint8_t* sector, int fd, uint32_t address, const uint8_t* source, uint32_t offset,
                    uint32_t length)
{
    const uint32_t size = theFlash.sector_size;
    if (!mtd_read(fd, address, size, sector)) {
        puts("Flash Write mtd read failed.");
        return false;
    }
    const uint64_t from = std::max<uint64_t>(offset, address);
    const uint64_t to = std::min<uint64_t>(uint64_t{offset} + length, uint64_t{address} + size);
    if (to > from)
        std::copy(source + (from - offset), source + (to - offset), sector + (from - address));
    if (!mtd_erase(fd, address, size)) {
        puts("Flash Write mtd erase failed.");
        return false;
    }
    for (uint32_t piece = 0; piece < size; piece += FLASH_WRITE_PIECE) {
        if (!mtd_write(fd, address + piece, FLASH_WRITE_PIECE, sector + piece)) {
            puts("Flash Write mtd write failed.");
            return false;
        }
    }
    return true;
}

}  // namespace

int flash_open()
{
    mtd_open();
    return mtd_type();
}

int flash_read(uint8_t* buffer, int fd, uint32_t length, uint32_t offset)
{
    return mtd_read(fd, offset, length, buffer);
}

int flash_write(const uint8_t* buffer, int fd, uint32_t length, uint32_t offset)
{
    const SectorRange range = sector_range(offset, length);
    std::unique_ptr<uint8_t[]> sector = os::new_buffer(theFlash.sector_size);
    if (!sector) {
        puts("Flash Write malloc failed");
        return 0;
    }
    for (uint32_t i = 0; i < range.count; ++i) {
        // The failure message follows the dots of the finished sectors; the line end closes it.
        if (!rewrite_sector(sector.get(), fd, range.first + i * theFlash.sector_size, buffer, offset,
                            length)) {
            puts("");
            return 0;
        }
        fputs(".", stdout);
        fflush(stdout);
    }
    puts("");
    return 1;
}

int flash_erase(int fd, uint32_t length, uint32_t offset)
{
    const SectorRange range = sector_range(offset, length);
    for (uint32_t i = 0; i < range.count; ++i) {
        if (!mtd_erase(fd, range.first + i * theFlash.sector_size, theFlash.sector_size)) {
            puts("Flash Erase mtd erase failed.");
            return 0;
        }
    }
    return 1;
}
