// The boot loader's environment block: a CRC word, then NAME=VALUE strings each ended by a NUL, an
// empty string after the last, and zeros to the end of the block.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flash/flash_layout.h"

constexpr uint32_t ENV_DATA_SIZE = FLASH_ENV_SIZE - 4;

// The CRC word: the standard CRC-32 (final inversion included, as zlib computes it) of the data
// area, stored most significant byte first, the board's own byte order.
uint32_t env_data_crc(const uint8_t* data);

// Why the variables cannot make a block (a malformed or repeated NAME=VALUE, or too much text).
std::optional<std::string> check_env_variables(const std::vector<std::string>& variables);
// The bytes the variables take in the data area, the closing empty string included.
uint32_t env_text_size(const std::vector<std::string>& variables);
// Fills the FLASH_ENV_SIZE bytes of block; the variables have passed check_env_variables.
void encode_env_block(const std::vector<std::string>& variables, uint8_t* block);

struct EnvContents {
    bool erased;
    uint32_t stored_crc;
    uint32_t computed_crc;
    std::vector<std::string> variables;
    bool terminated;  // the empty string that ends the list is there
};

EnvContents decode_env_block(const uint8_t* block);
