#include "launch_support.h"

#include <algorithm>

#include "crc/crc.h"
#include "flash/flash_layout.h"

std::vector<uint8_t> make_record(uint32_t magic, const std::string& payload)
{
    std::vector<uint8_t> record(16 + payload.size());
    std::copy(payload.begin(), payload.end(), record.begin() + 16);
    ImageHeader header{0, static_cast<uint32_t>(payload.size()), magic, 0x00010203};
    encode_image_header(header, record.data());
    header.crc = gen_crc(record.data() + 4, static_cast<uint32_t>(record.size() - 4), 0xFFFFFFFF);
    encode_image_header(header, record.data());
    return record;
}

void put_header(sim::Board& board, uint32_t base, uint32_t len)
{
    std::vector<uint8_t> bytes(16);
    encode_image_header({0, len, kMagicApplication, 0}, bytes.data());
    board.flash.load(base, bytes);
}

Lines operator+(Lines a, const Lines& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void unpack_compatible_image(sim::Board& board)
{
    board.shell.on(kUnpackLine, [](sim::Board& b, const std::string&) {
        b.write_file("/tmp/home/bin/distro-id", "");
        return 0;
    });
}

void load_env(sim::Board& board, const std::vector<std::string>& variables)
{
    std::vector<uint8_t> text;
    for (const std::string& variable : variables) {
        text.insert(text.end(), variable.begin(), variable.end());
        text.push_back(0);
    }
    // The text follows the block's CRC word.
    board.flash.load(0x03FE0004, text);
}
