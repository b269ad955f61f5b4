// The emulated NOR flash behind "/dev/mtd0": AND-only programming, block erases, faults and power cuts.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>

#include "sim/emulated_system.h"

namespace sim {

namespace {

bool fault_hits(FlashOp op, uint32_t count, uint64_t start, uint64_t length, bool* short_transfer) {
    for (const FlashFault& f : board().flash.faults) {
        if (f.op != op) continue;
        if (f.nth != 0 && f.nth != count) continue;
        if (f.addr && !(*f.addr >= start && *f.addr < start + std::max<uint64_t>(length, 1))) continue;
        *short_transfer = f.short_transfer;
        return true;
    }
    return false;
}

void maybe_power_cut(uint32_t count, uint32_t cut_after) {
    if (cut_after != 0 && count == cut_after) {
        record(Event::Kind::PowerCut, "");
        finish(End::PowerCut, 0);
    }
}

}  // namespace

ssize_t flash_transfer(FlashOp op, void* buf, size_t count, off_t offset) {
    FlashCounters& c = state().flash_counters;
    uint32_t n = op == FlashOp::Read ? ++c.reads : ++c.writes;
    if (offset < 0) return fail(EINVAL);
    uint64_t size = Flash::kArraySize;
    uint64_t start = static_cast<uint64_t>(offset);
    uint64_t length = start >= size ? 0 : std::min<uint64_t>(count, size - start);
    if (op == FlashOp::Write && count > 0 && length == 0) return fail(ENOSPC);
    bool short_transfer = false;
    if (fault_hits(op, n, start, count, &short_transfer)) {
        if (!short_transfer) return fail(EIO);
        length /= 2;
    }
    uint8_t* cells = board().flash.data() + start;
    if (op == FlashOp::Read) {
        std::memcpy(buf, cells, length);
        c.bytes_read += length;
    } else {
        // NOR programming only clears bits; only an erase sets them again.
        const auto* data = static_cast<const uint8_t*>(buf);
        for (uint64_t i = 0; i < length; ++i) cells[i] &= data[i];
        c.bytes_written += length;
        maybe_power_cut(n, board().flash.power_cut_after_write);
    }
    return static_cast<ssize_t>(length);
}

int flash_ioctl(const Handle& h, unsigned long request, void* arg) {
    Flash& flash = board().flash;
    if (request == MEMGETINFO) {
        if (flash.info_fails) return fail(EINVAL);
        auto* info = static_cast<mtd_info_user*>(arg);
        *info = {};
        info->type = MTD_NORFLASH;
        info->flags = MTD_CAP_NORFLASH;
        info->size = flash.reported_size;
        info->erasesize = flash.reported_erase_size;
        info->writesize = 1;
        return 0;
    }
    if (request == MEMERASE) {
        // The driver refuses the commands that change the flash on a descriptor opened read-only.
        if (!writable(h.flags)) return fail(EPERM);
        const auto* erase = static_cast<const erase_info_user*>(arg);
        uint32_t n = ++state().flash_counters.erases;
        uint64_t start = erase->start;
        uint64_t length = erase->length;
        // Erases go by the erase size the device reports, as the driver checks them.
        uint64_t unit = std::has_single_bit(flash.reported_erase_size) ? flash.reported_erase_size : Flash::kBlockSize;
        bool aligned = start % unit == 0 && length % unit == 0;
        if (!aligned || length == 0 || start + length > Flash::kArraySize) return fail(EINVAL);
        bool ignored = false;
        if (fault_hits(FlashOp::Erase, n, start, length, &ignored)) return fail(EIO);
        std::memset(flash.data() + start, 0xFF, length);
        state().flash_counters.bytes_erased += length;
        maybe_power_cut(n, flash.power_cut_after_erase);
        return 0;
    }
    return fail(ENOTTY);
}

}  // namespace sim
