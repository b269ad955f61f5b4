#include "imgtool/record_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "crc/crc.h"
#include "imgtool/command.h"
#include "imgtool/record_types.h"

namespace {

constexpr size_t kChunkSize = 64 * 1024;

}  // namespace

std::optional<std::string> open_input(const std::string& path, InputFile& file)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return "cannot read " + path + ": " + (error ? error.message() : std::string("not a regular file"));
    file.size = std::filesystem::file_size(path, error);
    if (error)
        return "cannot read " + path + ": " + error.message();
    errno = 0;
    file.stream.open(path, std::ios::binary);
    if (!file.stream)
        return "cannot read " + path + ": " + (errno != 0 ? strerror(errno) : "open failed");
    return std::nullopt;
}

std::optional<std::string> open_flash_image(const std::string& path, InputFile& file)
{
    if (auto failure = open_input(path, file))
        return failure;
    if (!is_flash_image(file))
        return path + ": not a 64 MiB flash image (" + std::to_string(file.size) + " bytes)";
    return std::nullopt;
}

// By its size alone: exactly the flash device's 0x04000000 bytes, as imgtool flash writes an image and a
// flash programmer reads one back.  A download is its records end to end and may have any size, but one
// of exactly 64 MiB would take nearly two hours to send at 115200 bit/s and is not a file anyone makes,
// while every flash image has that size whatever its areas hold (slot 1 erased, an area damaged).  One
// rule for every command, so that info, env, boot and send never disagree on what a file is.
bool is_flash_image(const InputFile& file) { return file.size == FLASH_IMAGE_SIZE; }

bool stream_crc(std::istream& in, uint64_t count, uint32_t& crc, std::ostream* copy_to)
{
    std::vector<uint8_t> chunk(kChunkSize);
    while (count > 0) {
        const size_t size = count < kChunkSize ? static_cast<size_t>(count) : kChunkSize;
        if (!in.read(reinterpret_cast<char*>(chunk.data()), static_cast<std::streamsize>(size)))
            return false;
        crc = gen_crc(chunk.data(), static_cast<uint32_t>(size), crc);
        if (copy_to != nullptr && !copy_to->write(reinterpret_cast<const char*>(chunk.data()), size))
            return false;
        count -= size;
    }
    return true;
}

bool read_bytes(InputFile& file, uint64_t offset, uint8_t* bytes, uint32_t size)
{
    file.stream.clear();
    file.stream.seekg(static_cast<std::streamoff>(offset));
    return static_cast<bool>(file.stream.read(reinterpret_cast<char*>(bytes), size));
}

bool read_header_bytes(InputFile& file, uint64_t offset, uint8_t (&bytes)[IMAGE_HEADER_SIZE])
{
    return read_bytes(file, offset, bytes, IMAGE_HEADER_SIZE);
}

RecordCheck check_record(InputFile& file, uint64_t offset)
{
    uint8_t bytes[IMAGE_HEADER_SIZE];
    if (!read_header_bytes(file, offset, bytes))
        return {ImageHeader{}, 0, 0, RecordState::Unreadable};
    RecordCheck check{decode_image_header(bytes), 0, file.size - offset, RecordState::CutShort};
    const uint64_t total = uint64_t{IMAGE_HEADER_SIZE} + check.header.len;
    if (check.present < total)
        return check;
    check.present = total;
    // The CRC word itself is not covered; the rest of the header is.
    check.computed_crc = gen_crc(bytes + 4, IMAGE_HEADER_SIZE - 4, 0xFFFFFFFF);
    if (!stream_crc(file.stream, check.header.len, check.computed_crc, nullptr))
        check.state = RecordState::Unreadable;
    else
        check.state = check.computed_crc == check.header.crc ? RecordState::Intact : RecordState::BadCrc;
    return check;
}

std::string describe_record(const RecordCheck& check)
{
    const RecordType* type = record_type_of(check.header.magic);
    std::string text = pad(type != nullptr ? type->name : "unknown", 11) + "  len " +
                       std::to_string(check.header.len) + "  id " + hex32(check.header.id) + "  crc " +
                       hex32(check.header.crc);
    switch (check.state) {
    case RecordState::Intact:
        return text + "  computed " + hex32(check.computed_crc) + "  ok";
    case RecordState::BadCrc:
        return text + "  computed " + hex32(check.computed_crc) + "  BAD CRC";
    case RecordState::CutShort:
        return text + "  cut short: " + std::to_string(check.present) + " of " +
               std::to_string(uint64_t{IMAGE_HEADER_SIZE} + check.header.len) + " bytes present";
    case RecordState::Unreadable:
        break;
    }
    return text + "  read failed";
}
