// The record types by name, the size each may have, and the flash areas that hold them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "flash/flash_layout.h"

// The board's one flash device, which the boot-loader environment block ends.
constexpr uint32_t FLASH_IMAGE_SIZE = FLASH_ENV_BASE + FLASH_ENV_SIZE;

struct RecordType {
    const char* name;
    uint32_t magic;
    bool limits_payload;  // the limit counts the payload alone instead of the record total
    uint32_t limit;
};

std::span<const RecordType> record_types();
const RecordType* record_type_named(const std::string& name);
const RecordType* record_type_of(uint32_t magic);
// "application", "bootcode", ... as a list for messages.
std::string record_type_names();

// The longest payload a record of the type may carry.
uint32_t max_payload(const RecordType& type);
// The limit as it is enforced, e.g. "at most 0x00800000 bytes in all".
std::string limit_text(const RecordType& type);

struct FlashArea {
    const char* option;  // of imgtool flash
    const char* name;
    uint32_t base;
    uint32_t magic;
    uint32_t other_magic;  // the slots hold diagnostics records as well; 0 elsewhere
};

std::span<const FlashArea> flash_areas();
bool area_holds(const FlashArea& area, uint32_t magic);
// "application or diagnostics", "kernel", ...
std::string held_types(const FlashArea& area);
