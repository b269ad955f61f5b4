#include "launch_support.h"

#include "record.h"

std::vector<uint8_t> record_bytes(uint32_t magic, const std::string& payload)
{
    const std::string record = make_record(magic, payload, 0x00010203);
    return {record.begin(), record.end()};
}

void put_header(sim::Board& board, uint32_t base, uint32_t len)
{
    const std::string header = be32(0) + be32(len) + be32(kMagicApplication) + be32(0);
    board.flash.load(base, {header.begin(), header.end()});
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
