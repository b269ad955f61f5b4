#include <cstdio>

#include "flash/flash.h"
#include "image/image_internal.h"

namespace {

// What the installer says about a record of a type that goes into a flash area of its own.
struct AreaMessages {
    uint32_t magic;
    const char* banner;
    const char* crc_message;
    const char* size_message;
    const char* write_failure;
};

const AreaMessages kMessages[] = {
    {IMAGE_MAGIC_BOOTCODE, "**** BOOT CODE ****", "Bad crc for UBOOT: 0x%08x, voiding download\n",
     "UBOOT image is too big for flash (%d > %d)\n", "uboot image updated failed"},
    {IMAGE_MAGIC_KERNEL, "**** KERNEL ****", "Bad crc for KERNEL: 0x%08x, voiding download\n",
     "KERNEL image is too big for flash (%d > %d)\n", "kernel image updated failed"},
    {IMAGE_MAGIC_ROOTFS, "**** ROOTFILESYSTEM ****", "Bad crc for RAMDISK: 0x%08x, voiding download\n",
     "RFS image is too big for flash (%d > %d)\n", "RFS image updated failed"},
};

const AreaMessages* messages_for(uint32_t magic)
{
    for (const AreaMessages& messages : kMessages) {
        if (messages.magic == magic)
            return &messages;
    }
    return nullptr;
}

}  // namespace

RecordOutcome handle_area_record(const DownloadedRecord& record)
{
    const AreaMessages* messages = messages_for(record.header.magic);
    // Diagnostics and type-5 records travel in downloads but are never installed from one.
    if (messages == nullptr)
        return RecordOutcome::Next;
    const RecordArea& area = *record_area(record.header.magic);
    puts(messages->banner);
    if (!check_record_crc(record, messages->crc_message))
        return RecordOutcome::Failed;
    const uint32_t size = area.limits_payload ? record.header.len : record.total;
    if (size > area.limit) {
        printf(messages->size_message, static_cast<int>(size), static_cast<int>(area.limit));
        return RecordOutcome::Failed;
    }
    if (api_flash_write(record.bytes, flash_fd, area.base, record.total) < 0) {
        puts(messages->write_failure);
        return RecordOutcome::Failed;
    }
    return RecordOutcome::Next;
}
