#include <cstdio>

#include "flash/flash.h"
#include "image/image_internal.h"

namespace {

struct FlashArea {
    uint32_t magic;
    const char* banner;
    const char* crc_message;
    bool limits_payload;  // the limit applies to len alone, not to the record total
    uint32_t limit;
    const char* size_message;
    uint32_t base;
    const char* write_failure;
};

const FlashArea kAreas[] = {
    {IMAGE_MAGIC_BOOTCODE, "**** BOOT CODE ****", "Bad crc for UBOOT: 0x%08x, voiding download\n", true,
     FLASH_BOOTCODE_LIMIT, "UBOOT image is too big for flash (%d > %d)\n", FLASH_BOOTCODE_BASE,
     "uboot image updated failed"},
    {IMAGE_MAGIC_KERNEL, "**** KERNEL ****", "Bad crc for KERNEL: 0x%08x, voiding download\n", false,
     FLASH_KERNEL_LIMIT, "KERNEL image is too big for flash (%d > %d)\n", FLASH_KERNEL_BASE,
     "kernel image updated failed"},
    {IMAGE_MAGIC_ROOTFS, "**** ROOTFILESYSTEM ****", "Bad crc for RAMDISK: 0x%08x, voiding download\n", false,
     FLASH_ROOTFS_LIMIT, "RFS image is too big for flash (%d > %d)\n", FLASH_ROOTFS_BASE,
     "RFS image updated failed"},
};

const FlashArea* area_for(uint32_t magic)
{
    for (const FlashArea& area : kAreas) {
        if (area.magic == magic)
            return &area;
    }
    return nullptr;
}

}  // namespace

RecordOutcome handle_area_record(const DownloadedRecord& record)
{
    const FlashArea* area = area_for(record.header.magic);
    // Diagnostics and type-5 records travel in downloads but are never installed from one.
    if (area == nullptr)
        return RecordOutcome::Next;
    puts(area->banner);
    if (!check_record_crc(record, area->crc_message))
        return RecordOutcome::Failed;
    const uint32_t size = area->limits_payload ? record.header.len : record.total;
    if (size > area->limit) {
        printf(area->size_message, static_cast<int>(size), static_cast<int>(area->limit));
        return RecordOutcome::Failed;
    }
    if (api_flash_write(record.bytes, flash_fd, area->base, record.total) < 0) {
        puts(area->write_failure);
        return RecordOutcome::Failed;
    }
    return RecordOutcome::Next;
}
