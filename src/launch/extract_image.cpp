#include <cstdio>
#include <fcntl.h>
#include <memory>

#include "crc/crc.h"
#include "flash/flash.h"
#include "i2c/i2c.h"
#include "launch/launch.h"
#include "launch/launch_internal.h"
#include "platform/os.h"

namespace {

// A final failure: the operator may look around in a shell before the board resets.
[[noreturn]] void give_up()
{
    if (shell_enable)
        run_shell("/bin/sh\n");
    board_reset();
}

// Checks the whole record at base and writes its payload to the archive; false when the record
// does not fit its slot, cannot be held in memory or read, or fails its CRC.
bool copy_checked_payload(int archive, uint32_t base, const ImageHeader& header)
{
    if (!fits_slot(header.len))
        return false;
    uint32_t total = header.len + IMAGE_HEADER_SIZE;
    std::unique_ptr<uint8_t[]> record = os::new_buffer(total);
    if (!record)
        return false;
    if (api_flash_read(record.get(), flash_fd, base, total) < 0)
        return false;
    if (CheckCrc(record.get() + 4, header.len + 12, header.crc) != 0)
        return false;
    // A short write (a full /tmp) is not judged here: the unpacking then lacks the marker file
    // and the launch offers the rescue menu.
    os::write(archive, record.get() + IMAGE_HEADER_SIZE, header.len);
    return true;
}

}  // namespace

int CheckCrc(const uint8_t* data, uint32_t length, uint32_t expected)
{
    return gen_crc(data, length, 0xFFFFFFFF) == expected ? 0 : 1;
}

int extract_image(int slot)
{
    if (slot != 1 && slot != 2)
        return 0;
    uint32_t base = slot_base(slot);

    int archive = os::open(APP_ARCHIVE_PATH, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (archive < 0) {
        fprintf(stderr, "Failed to open application image output file.\n");
        give_up();
    }

    ImageHeader header = read_slot_header(base);
    if (!is_slot_magic(header.magic)) {
        if (tried_alt_image) {
            fprintf(stderr, "No valid application image found. Trying rescue image\n");
            os::close(archive);
            give_up();
        }
        os::close(archive);
        fprintf(stderr, "Image has invalid header 0x%x. (0x%x)\n", header.magic, IMAGE_MAGIC_DIAGNOSTICS);
        fprintf(stderr, "Image%d has invalid header... trying Image%d.\n", slot, other_slot(slot));
        return 0;
    }

    // A record that cannot be checked counts as a CRC mismatch, so the fallback stays the same.
    if (!copy_checked_payload(archive, base, header)) {
        if (tried_alt_image) {
            fprintf(stderr, "Both image1 and image2 failed.\n");
            os::close(archive);
            give_up();
        }
        os::close(archive);
        fprintf(stderr, "Image%d CRC failed, trying Image%d now.\n", slot, other_slot(slot));
        return 0;
    }

    os::close(archive);
    api_set_booted_image(static_cast<uint8_t>(slot));
    if (gdb_enable && !gdbserver_enable)
        extract_gdb(slot);
    launch_image(header.magic == IMAGE_MAGIC_DIAGNOSTICS ? 1 : 0);
}
