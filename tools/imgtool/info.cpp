// imgtool info: the records of download files and flash images, each with its CRC checked.
#include <algorithm>
#include <vector>

#include "imgtool/command.h"
#include "imgtool/download_walk.h"
#include "imgtool/env_block.h"
#include "imgtool/record_file.h"
#include "imgtool/record_types.h"

namespace {

void print_help(std::ostream& out)
{
    out << "Usage: imgtool info FILE...\n"
           "Lists the image records in each FILE with their offset, type, len, id, stored and computed\n"
           "CRC-32, and \"ok\" or \"BAD CRC\".\n"
           "\n"
           "A download file (or a slot dump) is walked record by record, as the rescue installer walks it,\n"
           "up to where the walk ends: the end of the file, stray bytes too few for a header, a header of\n"
           "unknown magic (such as the transfer's filler), a record cut short, or a record of a type the\n"
           "installer writes (application, bootcode, kernel, rootfs) whose CRC is bad: the installer stops\n"
           "there, keeping what it wrote before. It passes over diagnostics and type5 records unchecked,\n"
           "and so does the walk, marking a bad CRC.\n"
           "\n"
           "A 64 MiB flash image (exactly 0x04000000 bytes) is not a download: it is read area by area\n"
           "instead: slot 1 at 0x00000000, slot 2 at 0x00800000, rootfs at 0x01000000, kernel at\n"
           "0x01E00000 and bootcode at 0x03F00000, each either erased or holding one record of its own\n"
           "type within its limit, then the boot-loader environment block at 0x03FE0000 with its\n"
           "variables.\n"
           "\n"
           "Exit status: 0 when every record (and environment block) found is intact, 1 otherwise or\n"
           "when a download file holds no record at all.\n";
}

// A download file: records one after the other until something that is not one.
bool walk_sequence(InputFile& file, std::ostream& out)
{
    const DownloadWalk walk = walk_download(file);
    for (const WalkedRecord& record : walk.records)
        out << "  " << hex_offset(record.offset) << "  " << describe_record(record.check) << '\n';
    out << "  walk ended: " << walk.end.reason << " at offset " << hex_offset(walk.end_offset)
        << walk.end.note << '\n';
    if (walk.records.empty())
        out << "  no records\n";
    return walk.intact();
}

// One flash area: erased, or one record of the area's type that fits it.
bool show_area(InputFile& file, const FlashArea& area, std::ostream& out)
{
    out << "  " << pad(area.name, 12) << hex32(area.base) << "  ";
    uint8_t bytes[IMAGE_HEADER_SIZE];
    if (!read_header_bytes(file, area.base, bytes)) {
        out << "read failed\n";
        return false;
    }
    const ImageHeader header = decode_image_header(bytes);
    if (std::all_of(bytes, bytes + IMAGE_HEADER_SIZE, [](uint8_t b) { return b == 0xFF; })) {
        out << "erased\n";
        return true;
    }
    const RecordType* type = record_type_of(header.magic);
    if (type == nullptr) {
        out << "unknown magic " << hex32(header.magic) << '\n';
        return false;
    }
    if (header.len > max_payload(*type)) {
        out << pad(type->name, 11) << "  len " << header.len << "  too big for the area ("
            << limit_text(*type) << ")\n";
        return false;
    }
    const RecordCheck check = check_record(file, area.base);
    out << describe_record(check);
    if (!area_holds(area, header.magic)) {
        out << "  wrong type: the area holds " << held_types(area) << '\n';
        return false;
    }
    out << '\n';
    return check.state == RecordState::Intact;
}

bool show_environment(InputFile& file, std::ostream& out)
{
    out << "  " << pad("environment", 12) << hex32(FLASH_ENV_BASE) << "  ";
    std::vector<uint8_t> block(FLASH_ENV_SIZE);
    if (!read_bytes(file, FLASH_ENV_BASE, block.data(), FLASH_ENV_SIZE)) {
        out << "read failed\n";
        return false;
    }
    const EnvContents env = decode_env_block(block.data());
    if (env.erased) {
        out << "erased\n";
        return true;
    }
    const bool crc_ok = env.stored_crc == env.computed_crc;
    out << "crc " << hex32(env.stored_crc) << "  computed " << hex32(env.computed_crc) << "  "
        << (crc_ok ? "ok" : "BAD CRC") << (env.terminated ? "" : "  (no end of list)") << '\n';
    for (const std::string& variable : env.variables)
        out << "    " << variable << '\n';
    return crc_ok && env.terminated;
}

bool walk_flash_image(InputFile& file, std::ostream& out)
{
    bool intact = true;
    for (const FlashArea& area : flash_areas())
        intact = show_area(file, area, out) && intact;
    return show_environment(file, out) && intact;
}

}  // namespace

int run_info(const Args& args, Streams io)
{
    ParsedArgs parsed;
    if (auto status = parse_command("info", args, {}, print_help, io, parsed))
        return *status;
    if (parsed.operands.empty())
        return report_usage(io, "info", "expected at least one FILE");

    int status = EXIT_OK;
    for (const std::string& path : parsed.operands) {
        InputFile file;
        if (auto failure = open_input(path, file)) {
            status = report_failure(io, "info", *failure);
            continue;
        }
        const bool flash_image = is_flash_image(file);
        io.out << path
               << (flash_image ? ": flash image, not a download (imgtool send takes the records themselves)\n"
                               : ": records\n");
        const bool intact = flash_image ? walk_flash_image(file, io.out) : walk_sequence(file, io.out);
        if (!intact)
            status = EXIT_FAILED;
    }
    return status;
}
