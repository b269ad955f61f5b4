// Sector layer of module flash: byte ranges turned into whole-sector operations over the geometry in
// theFlash.  Lengths come before offsets here.  Results: 1 on success, 0 on failure.
#pragma once

#include <cstdint>

#include "flash/mtd.h"

// Opens the device and reads its geometry; the result is that of the geometry query.
int flash_open();
int flash_read(uint8_t* buffer, int fd, uint32_t length, uint32_t offset);
// Reads, erases and writes back every sector the range touches, so bytes of those sectors outside
// the range keep their contents.  One "." per finished sector, then a line end.
int flash_write(const uint8_t* buffer, int fd, uint32_t length, uint32_t offset);
// Erases every sector the range touches, one request per sector.
int flash_erase(int fd, uint32_t length, uint32_t offset);
