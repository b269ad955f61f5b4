#include <cerrno>
#include <cstdio>
#include <fcntl.h>

#include "flash/flash.h"
#include "i2c/i2c.h"
#include "image/image_internal.h"
#include "launch/launch.h"
#include "platform/os.h"

namespace {

// The error number the last call left, or fallback when it failed without leaving one.
int error_or(int fallback) { return errno != 0 ? errno : fallback; }

// 0 once the payload is in the archive whole, else the error number of what went wrong.  A short
// write leaves no error number: the file system took what it had room for.
int write_archive(const uint8_t* payload, uint32_t length)
{
    errno = 0;
    const int archive = os::open(APP_ARCHIVE_PATH, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (archive < 0)
        return error_or(EIO);
    errno = 0;
    if (os::write(archive, payload, length) != static_cast<ssize_t>(length)) {
        const int error = error_or(ENOSPC);
        os::close(archive);
        return error;
    }
    errno = 0;
    if (os::close(archive) != 0)
        return error_or(EIO);
    return 0;
}

RecordOutcome install_in_slot(const DownloadedRecord& record, char slot)
{
    printf("\nInstalling image as image%c...\n", slot);
    const uint32_t limit = record_area(IMAGE_MAGIC_APPLICATION)->limit;
    if (record.total > limit) {
        printf("Application image is too big for flash (%d > %d)\n", static_cast<int>(record.total),
               static_cast<int>(limit));
        return RecordOutcome::Failed;
    }
    const int slot_number = slot - '0';
    if (api_flash_write(record.bytes, flash_fd, slot_base(slot_number), record.total) < 0) {
        printf("Image%c updated failed\n", slot);
        return RecordOutcome::Failed;
    }
    printf("Image%c updated succeeded\n", slot);
    // The new image boots only once the slot byte names its slot: a byte that could not be stored
    // leaves the board booting what it booted before.  The slot itself is whole, so the records after
    // it are still installed.
    if (api_set_image(static_cast<uint8_t>(slot_number)) < 0) {
        printf("Image%c written but not selected: the slot byte could not be stored\n", slot);
        return RecordOutcome::Unselected;
    }
    return RecordOutcome::Next;
}

// Nothing goes to flash: the application runs from the archive, whatever its size.
RecordOutcome boot_at_once(const DownloadedRecord& record)
{
    puts("Booting downloaded image");
    const int error = write_archive(record.bytes + IMAGE_HEADER_SIZE, record.header.len);
    if (error != 0) {
        printf("Image unpack failed (err %d)\n", error);
        return RecordOutcome::Failed;
    }
    puts("Image ready to boot...");
    return RecordOutcome::Boot;
}

}  // namespace

RecordOutcome handle_application_record(const DownloadedRecord& record)
{
    puts("**** APPLICATION ****");
    if (!check_record_crc(record, "Bad crc for APPLICATION: 0x%08x, voiding download\n"))
        return RecordOutcome::Failed;
    printf("Install image as image 1 or 2 (hit return to just boot image): ");
    fflush(stdout);
    char answer[ANSWER_SIZE];
    // Without an answer the record is left alone and the walk goes on.
    if (!read_answer(answer))
        return RecordOutcome::Next;
    if (answer[0] == '1' || answer[0] == '2')
        return install_in_slot(record, answer[0]);
    return boot_at_once(record);
}
