// Records in files: opening inputs, streaming the CRC-32 over them, and checking one record.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <string>

#include "flash/flash_layout.h"

struct InputFile {
    std::ifstream stream;
    uint64_t size = 0;
};

// Opens a regular file for reading; gives the reason when it cannot, e.g. "cannot read x: No such
// file or directory".
std::optional<std::string> open_input(const std::string& path, InputFile& file);
// Opens a 64 MiB flash image as imgtool flash makes it, or gives why not.
std::optional<std::string> open_flash_image(const std::string& path, InputFile& file);
// Whether the open file is an image of the board's whole flash rather than a download.
bool is_flash_image(const InputFile& file);

// Runs gen_crc over the next count bytes of in, continuing from crc, and copies them to copy_to
// when one is given.  False when in ends or fails first, or the copy cannot be written.
bool stream_crc(std::istream& in, uint64_t count, uint32_t& crc, std::ostream* copy_to);

enum class RecordState { Intact, BadCrc, CutShort, Unreadable };

struct RecordCheck {
    ImageHeader header;
    uint32_t computed_crc;
    uint64_t present;  // bytes of the record that the file holds
    RecordState state;
};

// The record whose header starts at offset; the file holds at least the 16 header bytes there.
RecordCheck check_record(InputFile& file, uint64_t offset);
// The size bytes at offset; false when the file does not hold them all.
bool read_bytes(InputFile& file, uint64_t offset, uint8_t* bytes, uint32_t size);
// The header bytes at offset, read as they lie.
bool read_header_bytes(InputFile& file, uint64_t offset, uint8_t (&bytes)[IMAGE_HEADER_SIZE]);

// "application  len 3  id 0x00000000  crc 0x...  computed 0x...  ok" and the like.
std::string describe_record(const RecordCheck& check);
