// imgtool pack: a payload wrapped in an image record.
#include <filesystem>
#include <fstream>

#include "crc/crc.h"
#include "imgtool/command.h"
#include "imgtool/record_file.h"
#include "imgtool/record_types.h"

namespace {

const OptionSpec kOptions[] = {
    {.name = "--type", .takes_value = true},
    {.name = "--id", .takes_value = true},
    {.name = "-o", .takes_value = true},
};

void print_help(std::ostream& out)
{
    out << "Usage: imgtool pack --type TYPE [--id N] PAYLOAD -o RECORD\n"
           "Writes PAYLOAD as an image record: a 16-byte header of four big-endian words (CRC-32, payload\n"
           "length, magic, id) and the payload.  The CRC-32 covers the header's last three words and the\n"
           "payload, as the launcher and the rescue installer check it.\n"
           "\n"
           "  --type TYPE  the record type, one of:\n";
    for (const RecordType& type : record_types())
        out << "                 " << pad(type.name, 13) << hex32(type.magic) << ", " << limit_text(type)
            << '\n';
    out << "  --id N       the header's id word, decimal or 0x-prefixed hexadecimal (default 0)\n"
           "  -o RECORD    the record file to write\n"
           "A payload too big for the area its type is installed into is refused.\n";
}

// The record goes out header first with its CRC word left open, which is filled in once the
// payload has been streamed through the CRC.
bool write_record(InputFile& payload, const ImageHeader& header, const std::string& path)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    uint8_t bytes[IMAGE_HEADER_SIZE];
    encode_image_header(header, bytes);
    if (!out.write(reinterpret_cast<const char*>(bytes), IMAGE_HEADER_SIZE))
        return false;
    uint32_t crc = gen_crc(bytes + 4, IMAGE_HEADER_SIZE - 4, 0xFFFFFFFF);
    if (!stream_crc(payload.stream, header.len, crc, &out))
        return false;
    put_be32(crc, bytes);
    out.seekp(0);
    return out.write(reinterpret_cast<const char*>(bytes), 4) && out.flush();
}

}  // namespace

int run_pack(const Args& args, Streams io)
{
    ParsedArgs parsed;
    if (auto status = parse_command("pack", args, kOptions, print_help, io, parsed))
        return *status;
    if (!parsed.has("--type"))
        return report_usage(io, "pack", "missing --type");
    const RecordType* type = record_type_named(*parsed.value("--type"));
    if (type == nullptr)
        return report_usage(io, "pack",
                            "unknown type '" + *parsed.value("--type") + "' (" + record_type_names() + ")");
    const std::optional<uint32_t> id = parse_u32(parsed.value("--id").value_or("0"));
    if (!id)
        return report_usage(io, "pack", "bad id '" + *parsed.value("--id") + "'");
    if (parsed.operands.size() != 1)
        return report_usage(io, "pack", "expected one PAYLOAD");
    if (!parsed.has("-o"))
        return report_usage(io, "pack", "missing -o RECORD");

    const std::string& payload_path = parsed.operands.front();
    InputFile payload;
    if (auto failure = open_input(payload_path, payload))
        return report_failure(io, "pack", *failure);
    if (payload.size > max_payload(*type))
        return report_failure(io, "pack",
                              payload_path + ": " + std::to_string(payload.size) +
                                  " bytes are too much for a " + type->name + " record (" +
                                  limit_text(*type) + ")");

    const std::string record_path = *parsed.value("-o");
    std::error_code error;
    if (std::filesystem::equivalent(payload_path, record_path, error))
        return report_usage(io, "pack", "the record would overwrite its payload " + payload_path);
    const ImageHeader header{0, static_cast<uint32_t>(payload.size), type->magic, *id};
    if (!write_record(payload, header, record_path)) {
        std::filesystem::remove(record_path, error);
        return report_failure(io, "pack", "cannot write " + record_path + " from " + payload_path);
    }
    return EXIT_OK;
}
