// imgtool flash: a 64 MiB flash image with records in their areas and a boot-loader environment.
#include <algorithm>
#include <fstream>
#include <vector>

#include "crc/crc.h"
#include "imgtool/command.h"
#include "imgtool/env_block.h"
#include "imgtool/record_file.h"
#include "imgtool/record_types.h"

namespace {

const OptionSpec kOptions[] = {
    {.name = "-o", .takes_value = true},
    {.name = "--slot1", .takes_value = true},
    {.name = "--slot2", .takes_value = true},
    {.name = "--rootfs", .takes_value = true},
    {.name = "--kernel", .takes_value = true},
    {.name = "--bootcode", .takes_value = true},
    {.name = "--env", .takes_value = true, .repeatable = true},
};

void print_help(std::ostream& out)
{
    out << "Usage: imgtool flash -o FLASH.img [--slot1 REC] [--slot2 REC] [--kernel REC] [--rootfs REC]\n"
           "                     [--bootcode REC] [--env NAME=VALUE]...\n"
           "Writes a 64 MiB image of erased flash (0xFF bytes) with each record at the base of its area\n"
           "and the boot loader's environment block at 0x03FE0000.\n"
           "\n"
           "  --slot1 REC       application or diagnostics record for image slot 1, at 0x00000000\n"
           "  --slot2 REC       application or diagnostics record for image slot 2, at 0x00800000\n"
           "  --rootfs REC      root file system record, at 0x01000000\n"
           "  --kernel REC      kernel record, at 0x01E00000\n"
           "  --bootcode REC    boot-loader record, at 0x03F00000\n"
           "  --env NAME=VALUE  a variable of the environment; repeat for more, kept in the order given\n"
           "  -o FLASH.img      the image to write\n"
           "\n"
           "Each REC must be one whole record (as imgtool pack makes it, nothing after it) with a correct\n"
           "CRC-32, of a type its area holds, within the area's size limit.\n"
           "\n"
           "The environment block is 128 KiB: a CRC word, then the NAME=VALUE strings each ended by a NUL,\n"
           "an empty string after the last, and zeros to the end.  The CRC word is the standard CRC-32\n"
           "(as zlib computes it) of the 0x1FFFC bytes after it, stored big-endian, the board's byte\n"
           "order.  The launcher reads its options (gdb=, gdbserver=, gdbserver_ip=, gdbport=, shell=,\n"
           "memchk=, diagnostics=) from the first 512 bytes of the text only.\n";
}

// The record file for area, checked whole, into its place in the image.
std::optional<std::string> place_record(const FlashArea& area, const std::string& path,
                                        std::vector<uint8_t>& image)
{
    InputFile file;
    if (auto failure = open_input(path, file))
        return failure;
    uint8_t bytes[IMAGE_HEADER_SIZE];
    if (file.size < IMAGE_HEADER_SIZE || !read_header_bytes(file, 0, bytes))
        return path + ": too short for a record (" + std::to_string(file.size) + " bytes)";
    const ImageHeader header = decode_image_header(bytes);
    const RecordType* type = record_type_of(header.magic);
    if (type == nullptr)
        return path + ": not an image record (magic " + hex32(header.magic) + ")";
    if (!area_holds(area, header.magic))
        return path + ": a " + type->name + " record does not belong in " + area.name + ", which holds " +
               held_types(area);
    if (header.len > max_payload(*type))
        return path + ": record too big for " + area.name + " (" + limit_text(*type) + ")";
    const uint64_t total = uint64_t{IMAGE_HEADER_SIZE} + header.len;
    if (file.size != total)
        return path + ": " + std::to_string(file.size) + " bytes where the header makes a record of " +
               std::to_string(total);

    uint8_t* record = image.data() + area.base;
    if (!read_bytes(file, 0, record, static_cast<uint32_t>(total)))
        return "cannot read " + path;
    if (gen_crc(record + 4, static_cast<uint32_t>(total - 4), 0xFFFFFFFF) != header.crc)
        return path + ": BAD CRC";
    return std::nullopt;
}

bool write_image(const std::vector<uint8_t>& image, const std::string& path)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return out.write(reinterpret_cast<const char*>(image.data()),
                     static_cast<std::streamsize>(image.size())) &&
           out.flush();
}

}  // namespace

int run_flash(const Args& args, Streams io)
{
    ParsedArgs parsed;
    if (auto status = parse_command("flash", args, kOptions, print_help, io, parsed))
        return *status;
    if (!parsed.operands.empty())
        return report_usage(io, "flash", "unexpected argument '" + parsed.operands.front() + "'");
    if (!parsed.has("-o"))
        return report_usage(io, "flash", "missing -o FLASH.img");
    const std::vector<std::string> variables =
        parsed.has("--env") ? parsed.options.at("--env") : std::vector<std::string>{};
    if (auto mistake = check_env_variables(variables))
        return report_usage(io, "flash", *mistake);

    std::vector<uint8_t> image(FLASH_IMAGE_SIZE, 0xFF);
    for (const FlashArea& area : flash_areas()) {
        if (!parsed.has(area.option))
            continue;
        if (auto failure = place_record(area, *parsed.value(area.option), image))
            return report_failure(io, "flash", *failure);
    }
    encode_env_block(variables, image.data() + FLASH_ENV_BASE);
    if (env_text_size(variables) > ENV_TEXT_SIZE)
        io.err << "imgtool flash: warning: the environment text is " << env_text_size(variables)
               << " bytes; the launcher reads its options from the first " << ENV_TEXT_SIZE << " only\n";

    const std::string path = *parsed.value("-o");
    if (!write_image(image, path))
        return report_failure(io, "flash", "cannot write " + path);
    return EXIT_OK;
}
