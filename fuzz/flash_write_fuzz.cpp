// The sector-wise flash write with fuzzed geometry, offsets, lengths, data and device faults,
// checked against a plain byte-array model of the sectors around each write.  A write reported
// done must have put its bytes in place and kept every other byte of its sectors; a refused or
// failed write must be reported as such; sectors outside a write's range are never touched.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "flash/flash.h"
#include "fuzz_support.h"

namespace {

constexpr uint32_t kArraySize = 64u << 20;
constexpr size_t kMaxWrites = 4;
constexpr uint32_t kMaxData = 3u << 16;

struct Write {
    uint32_t offset;
    uint32_t length;  // as passed; may exceed data.size() only when the range must be refused
    std::vector<uint8_t> data;
};

struct Geometry {
    uint32_t erase_size;
    uint32_t reported_size;
};

Geometry geometry_from(fuzz::Input& in)
{
    const uint8_t sizes = in.byte();
    const uint32_t erase_size = 1024u << (sizes & 7);  // 1 KiB .. 128 KiB
    const uint32_t reported = (sizes & 8) ? kArraySize : (1u << 20) << ((sizes >> 4) & 3);  // 1..8 MiB
    return {erase_size, reported};
}

// Offsets are drawn near the places where the arithmetic can go wrong: sector edges, the end of
// the device, and the top of the 32-bit space.
uint32_t offset_from(fuzz::Input& in, const Geometry& g)
{
    const uint8_t kind = in.byte();
    const uint32_t raw = in.be32();
    switch (kind & 3) {
    case 0:
        return raw % g.reported_size;
    case 1:
        return (raw % (g.reported_size / g.erase_size)) * g.erase_size + (kind >> 2) - 32;
    case 2:
        return g.reported_size - (raw & 0x3FFFF);
    default:
        return raw;
    }
}

Write write_from(fuzz::Input& in, const Geometry& g)
{
    Write w;
    w.offset = offset_from(in, g);
    const uint8_t kind = in.byte();
    const uint32_t length = in.be16() | (kind & 1u) << 16;
    // Lengths near 4 GiB: the range must be refused without a byte of the buffer being looked at.
    w.length = (kind & 2) ? 0u - length : std::min(length, kMaxData);
    const std::string given = in.bytes((kind & 2) ? length : w.length);
    w.data.assign(given.begin(), given.end());
    // Data the input ran out of is a pattern, so that the range is still distinguishable.
    for (size_t i = w.data.size(); (kind & 2) == 0 && i < w.length; ++i)
        w.data.push_back(static_cast<uint8_t>(i * 7 + w.offset));
    return w;
}

void set_fault(sim::Board& board, fuzz::Input& in)
{
    const uint8_t kind = in.byte();
    const uint32_t nth = in.byte();
    board.flash.faults.clear();
    if ((kind & 3) == 0 || nth == 0)
        return;
    const sim::FlashOp op = (kind & 3) == 1   ? sim::FlashOp::Read
                            : (kind & 3) == 2 ? sim::FlashOp::Erase
                                              : sim::FlashOp::Write;
    board.flash.faults.emplace_back(op, nth, std::nullopt, (kind & 4) != 0);
}

bool fits_device(const Write& w, const Geometry& g)
{
    return uint64_t{w.offset} + w.length <= g.reported_size;
}

struct Span {
    uint32_t first;
    uint32_t end;
};

// The sectors a write may touch and one more on each side, within the array.
Span neighbourhood(const Write& w, const Geometry& g)
{
    const uint64_t first = (w.offset / g.erase_size) * uint64_t{g.erase_size};
    const uint64_t end = (uint64_t{w.offset} + w.length + g.erase_size - 1) / g.erase_size * g.erase_size;
    const uint64_t from = first >= g.erase_size ? first - g.erase_size : 0;
    const uint64_t to = std::min<uint64_t>(std::max(end, first + g.erase_size) + g.erase_size, kArraySize);
    return {static_cast<uint32_t>(from), static_cast<uint32_t>(to)};
}

struct Model {
    Span span;
    std::vector<uint8_t> bytes;
    std::vector<bool> known;
};

// A write reported done puts its bytes in; one that failed leaves the sectors it touches unknown.
void apply(Model& m, const Write& w, const Geometry& g, bool done)
{
    const uint64_t from = done ? w.offset : uint64_t{w.offset} / g.erase_size * g.erase_size;
    const uint64_t to =
        done ? uint64_t{w.offset} + w.length
             : (uint64_t{w.offset} + w.length + g.erase_size - 1) / g.erase_size * g.erase_size;
    for (uint64_t a = std::max<uint64_t>(from, m.span.first); a < std::min<uint64_t>(to, m.span.end); ++a) {
        const size_t i = static_cast<size_t>(a - m.span.first);
        m.known[i] = done;
        if (done)
            m.bytes[i] = w.data[static_cast<size_t>(a - w.offset)];
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const Geometry g = geometry_from(in);
    sim::Board& board = fuzz::board();
    board.flash.reported_erase_size = g.erase_size;
    board.flash.reported_size = g.reported_size;
    set_fault(board, in);
    const uint8_t seed = in.byte();

    std::vector<Write> writes;
    while (!in.empty() && writes.size() < kMaxWrites)
        writes.push_back(write_from(in, g));

    // The model: the neighbourhood of every write, filled with a pattern before the run, and which
    // of its bytes are known.
    std::vector<Model> models;
    for (const Write& w : writes) {
        if (!fits_device(w, g))
            continue;
        const Span s = neighbourhood(w, g);
        uint8_t* cells = board.flash.data();
        for (uint32_t a = s.first; a < s.end; ++a)
            cells[a] = static_cast<uint8_t>((a >> 9) * 13 + a * seed);
        models.push_back({s, {}, {}});
    }
    for (Model& m : models) {
        m.bytes.assign(board.flash.data() + m.span.first, board.flash.data() + m.span.end);
        m.known.assign(m.bytes.size(), true);
    }

    sim::Run r = fuzz::run([&writes] {
        if (api_flash_init() != 0)
            return -1;
        int done = 0;
        for (size_t i = 0; i < writes.size(); ++i)
            if (api_flash_write(writes[i].data.data(), flash_fd, writes[i].offset, writes[i].length) == 0)
                done |= 1 << i;
        return done;
    });
    fuzz::require(r.end == sim::End::Returned, "the writes return", &r);
    fuzz::require(r.value >= 0, "the flash opens", &r);

    for (size_t i = 0; i < writes.size(); ++i) {
        const Write& w = writes[i];
        const bool reported_done = (r.value >> i & 1) != 0;
        if (!fits_device(w, g)) {
            fuzz::require(!reported_done, "a range off the device is refused", &r);
            continue;
        }
        fuzz::require(reported_done || !board.flash.faults.empty(), "a write on a sound device is done", &r);
        for (Model& m : models)
            apply(m, w, g, reported_done);
    }
    for (const Model& m : models) {
        const uint8_t* cells = board.flash.data() + m.span.first;
        for (size_t i = 0; i < m.bytes.size(); ++i)
            fuzz::require(!m.known[i] || cells[i] == m.bytes[i], "the flash holds what the writes reported",
                          &r);
    }
    return 0;
}
