#include "imgtool/download_walk.h"

#include "imgtool/command.h"
#include "imgtool/record_types.h"

namespace {

// Where a walk through a download stops at offset, if it does.
std::optional<WalkEnd> end_before_record(InputFile& file, uint64_t offset)
{
    const uint64_t left = file.size - offset;
    if (left == 0)
        return WalkEnd{"end of file", true};
    if (left < IMAGE_HEADER_SIZE)
        return WalkEnd{std::to_string(left) + " stray bytes", true};
    uint8_t bytes[IMAGE_HEADER_SIZE];
    if (!read_header_bytes(file, offset, bytes))
        return WalkEnd{"read failed", false};
    // Also how the filler of a download's last transfer block ends the walk.
    const uint32_t magic = decode_image_header(bytes).magic;
    if (!is_known_image_magic(magic))
        return WalkEnd{"unknown magic " + hex32(magic), true};
    return std::nullopt;
}

}  // namespace

bool DownloadWalk::intact() const
{
    if (!end.normal || records.empty())
        return false;
    for (const WalkedRecord& record : records) {
        if (record.check.state != RecordState::Intact)
            return false;
    }
    return true;
}

DownloadWalk walk_download(InputFile& file)
{
    DownloadWalk walk{{}, {"", true}, 0};
    uint64_t offset = 0;
    while (true) {
        if (auto end = end_before_record(file, offset)) {
            walk.end = *end;
            break;
        }
        const RecordCheck check = check_record(file, offset);
        walk.records.push_back({offset, check});
        if (check.state == RecordState::CutShort || check.state == RecordState::Unreadable) {
            walk.end =
                WalkEnd{check.state == RecordState::CutShort ? "record cut short" : "read failed", false};
            break;
        }
        // A bad CRC stops the installer only in a record it installs; the others it passes over unchecked
        if (check.state == RecordState::BadCrc && record_area(check.header.magic) != nullptr) {
            walk.end =
                WalkEnd{"bad CRC", false, " (the installer stops here; the records before it are installed)"};
            break;
        }
        offset += IMAGE_HEADER_SIZE + uint64_t{check.header.len};
    }
    walk.end_offset = offset;
    return walk;
}
