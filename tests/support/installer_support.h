// Shared pieces of the installer tests: download files made of records, and a run of the installer
// on a board whose bus and flash are up, as they are when the rescue menu runs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes.h"
#include "flash/flash.h"
#include "i2c/i2c.h"
#include "image/image.h"
#include "launch_support.h"
#include "sim/board.h"

inline void put_download(sim::Board& board, const std::vector<std::vector<uint8_t>>& records)
{
    std::string file;
    for (const std::vector<uint8_t>& record : records)
        file += as_text(record);
    board.write_file("/tmp/image", file);
}

inline sim::Run install(sim::Board& board)
{
    return board.run([] {
        api_i2c_init();
        api_flash_init();
        return processTavikImage("/tmp/image");
    });
}

inline std::string flash_text(sim::Board& board, uint32_t offset, size_t length)
{
    return as_text(board.flash.bytes(offset, static_cast<uint32_t>(length)));
}

// Whether the length bytes at offset are still erased.
inline bool erased(sim::Board& board, uint32_t offset, uint32_t length)
{
    return flash_text(board, offset, length) == std::string(length, '\xFF');
}
