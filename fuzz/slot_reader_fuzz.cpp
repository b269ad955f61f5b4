// The slot reader over fuzzed slot contents, with the fallback state, the debugger mode and a full
// /tmp fuzzed too.  It launches only a record that is whole in its slot, of a slot's type, with its
// CRC right, and then the archive holds that record's payload; any other slot sends it to the other
// slot, or to the reset once that was tried.  In debugger mode the other slot's payload becomes
// the debugger's archive.
#include <cstdint>
#include <cstring>
#include <string>

#include "flash/flash.h"
#include "fuzz_support.h"
#include "i2c/i2c.h"
#include "launch/launch.h"
#include "tests/support/crc_bitwise.h"
#include "tests/support/launch_support.h"

namespace {

constexpr uint32_t kSlotBase[] = {kSlot1Base, kSlot2Base};
constexpr uint32_t kSlotSize = 0x00800000;

uint32_t be32_at(const uint8_t* bytes)
{
    return uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 | uint32_t{bytes[2]} << 8 | bytes[3];
}

void fix_crc(std::string& slot)
{
    if (slot.size() < 16)
        return;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(slot.data());
    const uint32_t len = be32_at(bytes + 4);
    if (len > slot.size() - 16)
        return;
    const uint32_t crc = crc_bitwise(bytes + 4, len + 12, 0xFFFFFFFF);
    for (size_t i = 0; i < 4; ++i)
        slot[i] = static_cast<char>(crc >> (24 - 8 * i));
}

// The record at the start of a slot as it stands in flash, when it is one to launch.
bool launchable(const uint8_t* slot, std::string* payload)
{
    const uint32_t len = be32_at(slot + 4);
    const uint32_t magic = be32_at(slot + 8);
    if ((magic != kMagicApplication && magic != kMagicDiagnostics) || len > kSlotSize - 16)
        return false;
    if (crc_bitwise(slot + 4, len + 12, 0xFFFFFFFF) != be32_at(slot))
        return false;
    payload->assign(reinterpret_cast<const char*>(slot + 16), len);
    return true;
}

bool ran(const sim::Run& r, const std::string& command)
{
    for (const std::string& c : r.commands)
        if (c == command)
            return true;
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const uint8_t knobs = in.byte();
    const int slot = (knobs & 1) ? 2 : 1;
    std::string chosen = in.bytes(in.be16());
    std::string other = in.rest();
    if (knobs & 0x80) {
        fix_crc(chosen);
        fix_crc(other);
    }

    sim::Board& board = fuzz::board();
    uint8_t* flash = board.flash.data();
    // The slots are erased but for what the input before put there; the reader writes no flash.
    static size_t loaded[2] = {kSlotSize, kSlotSize};
    for (int i = 0; i < 2; ++i)
        std::memset(flash + kSlotBase[i], 0xFF, loaded[i]);
    std::memcpy(flash + kSlotBase[slot - 1], chosen.data(), chosen.size());
    std::memcpy(flash + kSlotBase[2 - slot], other.data(), other.size());
    loaded[slot - 1] = chosen.size();
    loaded[2 - slot] = other.size();
    if (knobs & 0x10)
        board.files.tmp_room = 0;
    board.virtual_limit_us = 60'000'000;
    board.write_file("/tmp/home/bin/distro-id", "");
    board.write_file("/tmp/zarelimage.tar.gz", "");
    board.write_file("/tmp/gdb.gz", "");
    board.console.input.clear();

    const bool tried_alt = (knobs & 2) != 0;
    const bool gdb = (knobs & 4) != 0;
    const bool shell = (knobs & 8) != 0;
    sim::Run r = fuzz::run([slot, tried_alt, gdb, shell] {
        api_i2c_init();
        api_flash_init();
        tried_alt_image = tried_alt;
        gdb_enable = gdb;
        shell_enable = shell;
        return extract_image(slot);
    });

    std::string payload;
    const bool good = launchable(flash + kSlotBase[slot - 1], &payload);
    const bool launched = ran(r, kUnpackLine);
    fuzz::require(launched == good, "exactly a good record is launched", &r);
    if (!good) {
        const bool reset = r.end == sim::End::Exited && ran(r, "reboot");
        fuzz::require(tried_alt ? reset : r.end == sim::End::Returned && r.value == 0,
                      "a bad slot falls back, or resets once the other slot was tried", &r);
        return 0;
    }
    if (!board.files.tmp_room.has_value())
        fuzz::require(board.read_file("/tmp/zarelimage.tar.gz") == payload, "the archive is the payload", &r);

    std::string gdb_payload;
    const uint8_t* other_slot = flash + kSlotBase[2 - slot];
    const uint32_t other_len = be32_at(other_slot + 4);
    const uint32_t other_magic = be32_at(other_slot + 8);
    const bool other_whole = (other_magic == kMagicApplication || other_magic == kMagicDiagnostics) &&
                             other.size() >= 16 && other_len <= other.size() - 16;
    if (gdb && other_whole && !board.files.tmp_room.has_value()) {
        const std::string expected(reinterpret_cast<const char*>(other_slot + 16), other_len);
        fuzz::require(board.read_file("/tmp/gdb.gz") == expected,
                      "the debugger's archive is the other payload", &r);
    }
    return 0;
}
