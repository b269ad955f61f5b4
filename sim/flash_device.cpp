// The emulated NOR flash behind "/dev/mtd0": AND-only programming, block erases, faults and power cuts.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include "sim/emulated_system.h"

namespace sim {

namespace {

bool fault_hits(FlashOp op, uint32_t count, uint64_t start, uint64_t length, bool* short_transfer)
{
    for (const FlashFault& f : board().flash.faults) {
        if (f.op != op)
            continue;
        if (f.nth != 0 && f.nth != count)
            continue;
        if (f.addr && !(*f.addr >= start && *f.addr < start + std::max<uint64_t>(length, 1)))
            continue;
        *short_transfer = f.short_transfer;
        return true;
    }
    return false;
}

// The array is the device's memory, not the program's.  Transfers and erases go piece by piece and
// let go of the child's mapping of each piece once done (the shared array keeps its contents), so
// that the run's resident set shows what the program holds rather than how much of the flash it
// touched.  A fault maps neighbouring pages too, at most the 2 MiB a page table covers: the range
// let go of is widened to those bounds.
constexpr uint64_t kTouchPiece = 256u << 10;
constexpr uint64_t kFaultSpan = 2u << 20;

void release_pages(uint64_t start, uint64_t length)
{
    const uint64_t from = start & ~(kFaultSpan - 1);
    const uint64_t to =
        std::min<uint64_t>((start + length + kFaultSpan - 1) & ~(kFaultSpan - 1), Flash::kArraySize);
    madvise(board().flash.data() + from, to - from, MADV_DONTNEED);
}

template <typename Touch>
void touch_in_pieces(uint64_t start, uint64_t length, Touch touch)
{
    uint8_t* array = board().flash.data();
    for (uint64_t done = 0; done < length;) {
        const uint64_t piece = std::min(kTouchPiece, length - done);
        touch(array + start + done, done, piece);
        release_pages(start + done, piece);
        done += piece;
    }
}

// The device ends where it says it does, within the emulated array.
uint64_t device_size() { return std::min<uint64_t>(board().flash.reported_size, Flash::kArraySize); }

void maybe_power_cut(uint32_t count, uint32_t cut_after)
{
    if (cut_after != 0 && count == cut_after) {
        record(Event::Kind::PowerCut, "");
        finish(End::PowerCut, 0);
    }
}

}  // namespace

ssize_t flash_transfer(FlashOp op, void* buf, size_t count, off_t offset)
{
    FlashCounters& c = state().flash_counters;
    uint32_t n = op == FlashOp::Read ? ++c.reads : ++c.writes;
    if (offset < 0)
        return fail(EINVAL);
    uint64_t size = device_size();
    uint64_t start = static_cast<uint64_t>(offset);
    uint64_t length = start >= size ? 0 : std::min<uint64_t>(count, size - start);
    if (op == FlashOp::Write && count > 0 && length == 0)
        return fail(ENOSPC);
    bool short_transfer = false;
    if (fault_hits(op, n, start, count, &short_transfer)) {
        if (!short_transfer)
            return fail(EIO);
        length /= 2;
    }
    if (op == FlashOp::Read) {
        auto* out = static_cast<uint8_t*>(buf);
        touch_in_pieces(start, length,
                        [out](uint8_t* from, uint64_t at, uint64_t n) { std::memcpy(out + at, from, n); });
        c.bytes_read += length;
    } else {
        // NOR programming only clears bits; only an erase sets them again.
        const auto* data = static_cast<const uint8_t*>(buf);
        touch_in_pieces(start, length, [data](uint8_t* to, uint64_t at, uint64_t n) {
            for (uint64_t i = 0; i < n; ++i)
                to[i] &= data[at + i];
        });
        c.bytes_written += length;
        maybe_power_cut(n, board().flash.power_cut_after_write);
    }
    return static_cast<ssize_t>(length);
}

int flash_ioctl(const Handle& h, unsigned long request, void* arg)
{
    Flash& flash = board().flash;
    if (request == MEMGETINFO) {
        if (flash.info_fails)
            return fail(EINVAL);
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
        if (!writable(h.flags))
            return fail(EPERM);
        const auto* erase = static_cast<const erase_info_user*>(arg);
        uint32_t n = ++state().flash_counters.erases;
        uint64_t start = erase->start;
        uint64_t length = erase->length;
        // Erases go by the erase size the device reports, as the driver checks them.
        uint64_t unit =
            std::has_single_bit(flash.reported_erase_size) ? flash.reported_erase_size : Flash::kBlockSize;
        bool aligned = start % unit == 0 && length % unit == 0;
        if (!aligned || length == 0 || start + length > device_size())
            return fail(EINVAL);
        bool ignored = false;
        if (fault_hits(FlashOp::Erase, n, start, length, &ignored))
            return fail(EIO);
        touch_in_pieces(start, length, [](uint8_t* to, uint64_t, uint64_t n) { std::memset(to, 0xFF, n); });
        state().flash_counters.bytes_erased += length;
        maybe_power_cut(n, flash.power_cut_after_erase);
        return 0;
    }
    return fail(ENOTTY);
}

}  // namespace sim
