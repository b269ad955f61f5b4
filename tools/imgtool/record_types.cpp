#include "imgtool/record_types.h"

#include "imgtool/command.h"

namespace {

// An installed type may be as big as the installer lets it be in its flash area.
constexpr RecordType installed_type(const char* name, uint32_t magic)
{
    const RecordArea& area = *record_area(magic);
    return {name, magic, area.limits_payload, area.limit};
}

const RecordType kTypes[] = {
    installed_type("application", IMAGE_MAGIC_APPLICATION),
    installed_type("bootcode", IMAGE_MAGIC_BOOTCODE),
    installed_type("kernel", IMAGE_MAGIC_KERNEL),
    installed_type("rootfs", IMAGE_MAGIC_ROOTFS),
    // Never installed, so only the header's 32-bit sizes bound it: the record total must still fit
    // one word, as the installer counts it.
    {"type5", IMAGE_MAGIC_TYPE5, false, 0xFFFFFFFF},
    // Never installed either, but imgtool flash places it in a slot.
    {"diagnostics", IMAGE_MAGIC_DIAGNOSTICS, false, FLASH_SLOT_SIZE},
};

// An area of one type, at the base the installer writes that type to. The slots, which hold
// diagnostics records as well, are written out whole.
constexpr FlashArea installer_area(const char* option, const char* name, uint32_t magic)
{
    return {option, name, record_area(magic)->base, magic, 0};
}

const FlashArea kAreas[] = {
    {"--slot1", "slot 1", FLASH_SLOT1_BASE, IMAGE_MAGIC_APPLICATION, IMAGE_MAGIC_DIAGNOSTICS},
    {"--slot2", "slot 2", FLASH_SLOT2_BASE, IMAGE_MAGIC_APPLICATION, IMAGE_MAGIC_DIAGNOSTICS},
    installer_area("--rootfs", "rootfs", IMAGE_MAGIC_ROOTFS),
    installer_area("--kernel", "kernel", IMAGE_MAGIC_KERNEL),
    installer_area("--bootcode", "bootcode", IMAGE_MAGIC_BOOTCODE),
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

std::string held_types(const FlashArea& area)
{
    std::string names = record_type_of(area.magic)->name;
    if (area.other_magic != 0)
        names += std::string(" or ") + record_type_of(area.other_magic)->name;
    return names;
}
