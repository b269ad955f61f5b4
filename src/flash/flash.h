// Byte-range access to the board's NOR flash through the MTD character device.
#pragma once

#include <cstdint>

struct FlashInfo {
    uint32_t sector_size;   // erase size in bytes
    uint32_t sector_shift;  // log2 of sector_size
    uint32_t total_size;    // 0: no usable flash
};

// The descriptor of the flash device; -1 when it could not be opened.  Never closed.
extern int flash_fd;

// Results: 0 on success, -1 on failure (at once, with no device access, when no flash is usable).
int api_flash_init();
int api_flash_read(uint8_t* buffer, int fd, uint32_t offset, uint32_t length);
int api_flash_write(const uint8_t* buffer, int fd, uint32_t offset, uint32_t length);
int api_flash_erase(int fd, uint32_t offset, uint32_t length);
