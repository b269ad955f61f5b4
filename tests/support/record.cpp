#include "record.h"

#include "crc_bitwise.h"

namespace {

uint32_t crc_of(const std::string& bytes)
{
    return crc_bitwise(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()),
                       0xFFFFFFFF);
}

}  // namespace

std::string be32(uint32_t word)
{
    return {static_cast<char>(word >> 24), static_cast<char>(word >> 16), static_cast<char>(word >> 8),
            static_cast<char>(word)};
}

std::string make_record(uint32_t magic, const std::string& payload, uint32_t id)
{
    const std::string covered =
        be32(static_cast<uint32_t>(payload.size())) + be32(magic) + be32(id) + payload;
    return be32(crc_of(covered)) + covered;
}

uint32_t standard_crc32(const std::string& bytes) { return ~crc_of(bytes); }
