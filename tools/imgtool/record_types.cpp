#include "imgtool/record_types.h"

#include "imgtool/command.h"

namespace {

const RecordType kTypes[] = {
    {"application", IMAGE_MAGIC_APPLICATION, false, FLASH_SLOT_SIZE},
    {"bootcode", IMAGE_MAGIC_BOOTCODE, true, FLASH_BOOTCODE_LIMIT},
    {"kernel", IMAGE_MAGIC_KERNEL, false, FLASH_KERNEL_LIMIT},
    {"rootfs", IMAGE_MAGIC_ROOTFS, false, FLASH_ROOTFS_LIMIT},
    // Never installed, so only the header's 32-bit sizes bound it: the record total must still fit
    // one word, as the installer counts it.
    {"type5", IMAGE_MAGIC_TYPE5, false, 0xFFFFFFFF},
    {"diagnostics", IMAGE_MAGIC_DIAGNOSTICS, false, FLASH_SLOT_SIZE},
};

const FlashArea kAreas[] = {
    {"--slot1", "slot 1", FLASH_SLOT1_BASE, IMAGE_MAGIC_APPLICATION, IMAGE_MAGIC_DIAGNOSTICS},
    {"--slot2", "slot 2", FLASH_SLOT2_BASE, IMAGE_MAGIC_APPLICATION, IMAGE_MAGIC_DIAGNOSTICS},
    {"--rootfs", "rootfs", FLASH_ROOTFS_BASE, IMAGE_MAGIC_ROOTFS, 0},
    {"--kernel", "kernel", FLASH_KERNEL_BASE, IMAGE_MAGIC_KERNEL, 0},
    {"--bootcode", "bootcode", FLASH_BOOTCODE_BASE, IMAGE_MAGIC_BOOTCODE, 0},
};

}  // namespace

std::span<const RecordType> record_types() { return kTypes; }

const RecordType* record_type_named(const std::string& name)
{
    for (const RecordType& type : kTypes) {
        if (name == type.name)
            return &type;
    }
    return nullptr;
}

const RecordType* record_type_of(uint32_t magic)
{
    for (const RecordType& type : kTypes) {
        if (magic == type.magic)
            return &type;
    }
    return nullptr;
}

std::string record_type_names()
{
    std::string names;
    for (const RecordType& type : kTypes)
        names += (names.empty() ? "" : ", ") + std::string(type.name);
    return names;
}

uint32_t max_payload(const RecordType& type)
{
    return type.limits_payload ? type.limit : type.limit - IMAGE_HEADER_SIZE;
}

std::string limit_text(const RecordType& type)
{
    if (type.limits_payload)
        return "a payload of at most " + hex32(type.limit) + " bytes, header not counted";
    return "at most " + hex32(type.limit) + " bytes in all";
}

std::span<const FlashArea> flash_areas() { return kAreas; }

bool area_holds(const FlashArea& area, uint32_t magic)
{
    return magic == area.magic || (area.other_magic != 0 && magic == area.other_magic);
}

const FlashArea* installed_area(uint32_t magic)
{
    for (const FlashArea& area : kAreas) {
        if (magic == area.magic)
            return &area;
    }
    return nullptr;
}

bool is_installed_type(uint32_t magic) { return installed_area(magic) != nullptr; }

std::string held_types(const FlashArea& area)
{
    std::string names = record_type_of(area.magic)->name;
    if (area.other_magic != 0)
        names += std::string(" or ") + record_type_of(area.other_magic)->name;
    return names;
}
