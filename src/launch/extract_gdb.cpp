#include <cstdio>
#include <fcntl.h>

#include "flash/flash.h"
#include "launch/launch.h"
#include "launch/launch_internal.h"
#include "platform/os.h"

namespace {

constexpr char GDB_ARCHIVE_PATH[] = "/tmp/gdb.gz";
constexpr uint32_t COPY_CHUNK_SIZE = 64 * 1024;

// Copies len payload bytes from flash at from to the file; false after a failed read or a write
// that did not take the whole chunk, each reported.
bool copy_payload(int file, uint32_t from, uint32_t len)
{
    static uint8_t chunk[COPY_CHUNK_SIZE];
    for (uint32_t done = 0; done < len;) {
        uint32_t count = len - done < COPY_CHUNK_SIZE ? len - done : COPY_CHUNK_SIZE;
        if (api_flash_read(chunk, flash_fd, from + done, count) < 0) {
            fprintf(stderr, "Failed to read GDB image from flash.\n");
            return false;
        }
        if (os::write(file, chunk, count) != static_cast<ssize_t>(count)) {
            fprintf(stderr, "Failed to write GDB output file.\n");
            return false;
        }
        done += count;
    }
    return true;
}

// Everything but the decompression; the output file is closed on every road.
bool write_gdb_archive(int other)
{
    int file = os::open(GDB_ARCHIVE_PATH, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0) {
        fprintf(stderr, "Failed to open GDB output file.\n");
        return false;
    }
    uint32_t base = slot_base(other);
    ImageHeader header = read_slot_header(base);
    bool copied = false;
    if (!is_slot_magic(header.magic)) {
        fprintf(stderr, "Image has invalid header 0x%x\n", header.magic);
    } else if (!fits_slot(header.len)) {
        fprintf(stderr, "GDB image length %u does not fit its slot.\n", header.len);
    } else {
        printf("Found GDB image %d of length = %u.\n", other, header.len);
        copied = copy_payload(file, base + IMAGE_HEADER_SIZE, header.len);
    }
    if (os::close(file) < 0 && copied) {
        fprintf(stderr, "Failed to write GDB output file.\n");
        copied = false;
    }
    return copied;
}

}  // namespace

int extract_gdb(int slot)
{
    if (slot != 1 && slot != 2)
        return 0;
    int other = other_slot(slot);
    printf("Extracting GDB from image slot %d\n", other);
    if (!write_gdb_archive(other))
        return 0;
    puts("decompressing GDB....");
    run_shell("gunzip /tmp/gdb.gz");
    run_shell("chmod +x /tmp/gdb");
    return 1;
}
