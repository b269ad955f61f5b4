// Device layer of module flash: the only code that reaches the MTD character device.
#pragma once

#include <cstdint>

#include "flash/flash.h"

// Sectors are written back in pieces of this many bytes, so an erase size must be a multiple of it.
constexpr uint32_t FLASH_WRITE_PIECE = 1024;

// The device's geometry, filled once by mtd_type; all zeros until then and after a failed query.
extern FlashInfo theFlash;

// Opens the device into flash_fd and returns the descriptor (-1 when the open failed).
int mtd_open();

// The operations below give 1 on success and 0 on failure.

// Fills theFlash from the device.  Fails when the query fails, the size is 0, or the erase size is
// one the sector arithmetic cannot work with.
int mtd_type();
int mtd_erase(int fd, uint32_t start, uint32_t length);
// A transfer of fewer bytes than asked fails.
int mtd_read(int fd, uint32_t offset, uint32_t length, uint8_t* buffer);
int mtd_write(int fd, uint32_t offset, uint32_t length, const uint8_t* buffer);
int mtd_get_size(int fd, uint32_t* size);
