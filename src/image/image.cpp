#include "image/image.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <memory>

#include "crc/crc.h"
#include "image/image_internal.h"
#include "launch/launch.h"
#include "platform/os.h"

namespace {

// Header words are shown only when this is switched on.
constexpr int HEADER_VERBOSE = 0;

void display_header(const ImageHeader* header, int verbose)
{
    if (!verbose)
        return;
    printf("  crc: 0x%08x\n", header->crc);
    printf("  len: 0x%08x\n", header->len);
    printf("magic: 0x%08x\n", header->magic);
    printf("   id: 0x%08x\n", header->id);
}

// Reads until count bytes are in or the file gives no more; the number of bytes read.
uint32_t read_up_to(int fd, uint8_t* buffer, uint32_t count)
{
    uint32_t done = 0;
    while (done < count) {
        ssize_t n = os::read(fd, buffer + done, count - done);
        if (n <= 0)
            break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

// Reads the rest of the record whose header was just read and hands it on.
RecordOutcome take_record(int download, const ImageHeader& header, const uint8_t* header_bytes)
{
    // A length within 16 of 4 GiB wraps the total round to a few bytes, too few for the record.
    const uint32_t total = header.len + IMAGE_HEADER_SIZE;
    std::unique_ptr<uint8_t[]> buffer;
    if (total >= IMAGE_HEADER_SIZE)
        buffer = os::new_buffer(total);
    if (!buffer) {
        printf("Failed to allocate buffer for image (%d)\n", static_cast<int>(total));
        return RecordOutcome::Failed;
    }
    std::copy(header_bytes, header_bytes + IMAGE_HEADER_SIZE, buffer.get());
    const uint32_t arrived =
        IMAGE_HEADER_SIZE + read_up_to(download, buffer.get() + IMAGE_HEADER_SIZE, header.len);
    const DownloadedRecord record{header, buffer.get(), total, arrived};
    if (header.magic == IMAGE_MAGIC_APPLICATION)
        return handle_application_record(record);
    return handle_area_record(record);
}

// The outcome of the last record handled when it stopped the walk; at the end of the records,
// Unselected when a slot was written but not selected on the way, else Next.
RecordOutcome walk_records(int download)
{
    RecordOutcome at_end = RecordOutcome::Next;
    for (;;) {
        uint8_t header_bytes[IMAGE_HEADER_SIZE];
        // What follows the last record (up to a block of transfer padding) is either too short for a
        // header or carries no known magic.
        if (read_up_to(download, header_bytes, IMAGE_HEADER_SIZE) < IMAGE_HEADER_SIZE)
            return at_end;
        const ImageHeader header = decode_image_header(header_bytes);
        if (!is_known_image_magic(header.magic))
            return at_end;
        display_header(&header, HEADER_VERBOSE);
        const RecordOutcome outcome = take_record(download, header, header_bytes);
        if (outcome == RecordOutcome::Unselected)
            at_end = outcome;
        else if (outcome != RecordOutcome::Next)
            return outcome;
    }
}

}  // namespace

bool check_record_crc(const DownloadedRecord& record, const char* crc_message)
{
    const uint32_t computed = gen_crc(record.bytes + 4, record.arrived - 4, 0xFFFFFFFF);
    // A record cut short is refused even should the bytes it has happen to match.
    if (record.arrived == record.total && computed == record.header.crc)
        return true;
    printf(crc_message, computed);
    return false;
}

int processTavikImage(const char* path)
{
    const int download = os::open(path, O_RDONLY);
    if (download < 0) {
        perror("Can't open image file");
        return 0;
    }
    puts("\nExtracting images ... Do *NOT* power cycle the switch.");
    const RecordOutcome last = walk_records(download);
    os::close(download);
    if (last == RecordOutcome::Boot)
        launch_image(0);
    return last == RecordOutcome::Next ? 1 : 0;
}
