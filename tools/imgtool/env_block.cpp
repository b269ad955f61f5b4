#include "imgtool/env_block.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "crc/crc.h"
#include "flash/flash_layout.h"

uint32_t env_data_crc(const uint8_t* data) { return ~gen_crc(data, ENV_DATA_SIZE, 0xFFFFFFFF); }

std::optional<std::string> check_env_variables(const std::vector<std::string>& variables)
{
    std::set<std::string> names;
    for (const std::string& variable : variables) {
        const size_t equals = variable.find('=');
        if (equals == std::string::npos || equals == 0)
            return "bad variable '" + variable + "': expected NAME=VALUE";
        if (!names.insert(variable.substr(0, equals)).second)
            return "variable " + variable.substr(0, equals) + " given twice";
    }
    if (env_text_size(variables) > ENV_DATA_SIZE)
        return "the variables take " + std::to_string(env_text_size(variables)) + " bytes; the block holds " +
               std::to_string(ENV_DATA_SIZE);
    return std::nullopt;
}

uint32_t env_text_size(const std::vector<std::string>& variables)
{
    uint64_t size = 1;
    for (const std::string& variable : variables)
        size += variable.size() + 1;
    return static_cast<uint32_t>(std::min<uint64_t>(size, 0xFFFFFFFF));
}

void encode_env_block(const std::vector<std::string>& variables, uint8_t* block)
{
    std::fill(block, block + FLASH_ENV_SIZE, 0);
    uint8_t* data = block + 4;
    for (const std::string& variable : variables) {
        memcpy(data, variable.data(), variable.size());
        data += variable.size() + 1;
    }
    put_be32(env_data_crc(block + 4), block);
}

EnvContents decode_env_block(const uint8_t* block)
{
    const uint8_t* data = block + 4;
    EnvContents contents{std::all_of(block, block + FLASH_ENV_SIZE, [](uint8_t b) { return b == 0xFF; }),
                         get_be32(block),
                         env_data_crc(data),
                         {},
                         false};
    uint32_t at = 0;
    while (at < ENV_DATA_SIZE) {
        const uint8_t* end = std::find(data + at, data + ENV_DATA_SIZE, 0);
        if (end == data + ENV_DATA_SIZE)
            return contents;
        if (end == data + at) {
            contents.terminated = true;
            return contents;
        }
        contents.variables.emplace_back(data + at, end);
        at = static_cast<uint32_t>(end - data) + 1;
    }
    return contents;
}
