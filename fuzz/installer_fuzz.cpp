// The rescue installer walking a fuzzed download file with fuzzed operator answers, flash faults
// and a full /tmp.  A reference walk of the same file says which records the installer may take
// and where each goes.  Whatever the installer got through before it stopped (every record whose
// banner another banner followed, or all of them when the walk ended well) must be in flash byte
// for byte: no failed write may pass for a good one.  On a sound board the result is the
// reference's, and a record booted at once reaches the archive as its payload alone.
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "flash/flash.h"
#include "fuzz_support.h"
#include "i2c/i2c.h"
#include "image/image.h"
#include "tests/support/crc_bitwise.h"
#include "tests/support/launch_support.h"

namespace {

constexpr uint32_t kAreaBases[] = {kSlot1Base, kSlot2Base, 0x01000000, 0x01E00000, 0x03F00000};
// Downloads stay well below this, so it covers every byte a record can be written over.
constexpr uint32_t kAreaSpan = 256u << 10;

uint32_t be32_at(const std::string& s, size_t at)
{
    uint32_t word = 0;
    for (size_t i = 0; i < 4; ++i)
        word = word << 8 | static_cast<uint8_t>(s[at + i]);
    return word;
}

bool installable(uint32_t magic)
{
    return magic == kMagicBootCode || magic == kMagicKernel || magic == kMagicRootFs ||
           magic == kMagicApplication;
}

bool known(uint32_t magic)
{
    return installable(magic) || magic == kMagicType5 || magic == kMagicDiagnostics;
}

// Fuzzed files rarely keep a CRC right: on request every whole record gets the CRC it should have.
void fix_crcs(std::string& file)
{
    for (size_t at = 0; at + 16 <= file.size();) {
        const uint32_t len = be32_at(file, at + 4);
        if (!known(be32_at(file, at + 8)) || len > file.size() - at - 16)
            return;
        const uint32_t crc =
            crc_bitwise(reinterpret_cast<const uint8_t*>(file.data() + at + 4), len + 12, 0xFFFFFFFF);
        for (size_t i = 0; i < 4; ++i)
            file[at + i] = static_cast<char>(crc >> (24 - 8 * i));
        at += 16 + size_t{len};
    }
}

struct Step {
    bool writes;  // goes into flash at base when it succeeds
    uint32_t base;
    std::string record;
};

enum class Outcome { Walked, Failed, Boot };

struct Reference {
    std::vector<Step> steps;  // the records that print a banner, in order
    Outcome outcome = Outcome::Walked;
    bool failed_before_banner = false;  // a record too long to be held at all
    std::string payload;                // the archive of a record booted at once
};

// The operator's next line as the installer reads it: none once the keys have run out.
bool next_answer(const std::string& keys, size_t& at, char* first)
{
    if (at >= keys.size())
        return false;
    size_t end = keys.find('\n', at);
    if (end == std::string::npos)
        end = keys.size();
    *first = end > at ? keys[at] : '\0';
    at = end + 1;
    return true;
}

uint32_t area_limit(uint32_t magic, uint32_t len)
{
    if (magic == kMagicBootCode)
        return len <= 0x00040000;
    if (magic == kMagicKernel)
        return uint64_t{len} + 16 <= 0x00100000;
    return uint64_t{len} + 16 <= 0x00B00000;
}

uint32_t area_base(uint32_t magic)
{
    return magic == kMagicBootCode ? 0x03F00000 : magic == kMagicKernel ? 0x01E00000 : 0x01000000;
}

Reference walk(const std::string& file, const std::string& keys)
{
    Reference ref;
    size_t answer_at = 0;
    for (size_t at = 0; at + 16 <= file.size();) {
        const uint32_t crc = be32_at(file, at);
        const uint32_t len = be32_at(file, at + 4);
        const uint32_t magic = be32_at(file, at + 8);
        if (!known(magic))
            return ref;
        // A length that wraps the record total round is refused before anything else.
        if (len > 0xFFFFFFEF) {
            ref.outcome = Outcome::Failed;
            ref.failed_before_banner = true;
            return ref;
        }
        const bool whole = len <= file.size() - at - 16;
        const std::string record = file.substr(at, whole ? 16 + size_t{len} : std::string::npos);
        at += whole ? 16 + size_t{len} : file.size();
        if (!installable(magic))
            continue;
        const bool crc_ok = whole && crc_bitwise(reinterpret_cast<const uint8_t*>(record.data() + 4),
                                                 static_cast<uint32_t>(record.size() - 4), 0xFFFFFFFF) == crc;
        Step step{false, 0, record};
        if (!crc_ok) {
            ref.steps.push_back(step);
            ref.outcome = Outcome::Failed;
            return ref;
        }
        if (magic != kMagicApplication) {
            step.writes = area_limit(magic, len);
            step.base = area_base(magic);
            ref.steps.push_back(step);
            if (!step.writes) {
                ref.outcome = Outcome::Failed;
                return ref;
            }
            continue;
        }
        char answer = 0;
        if (!next_answer(keys, answer_at, &answer)) {
            ref.steps.push_back(step);
            continue;
        }
        if (answer == '1' || answer == '2') {
            step.writes = uint64_t{len} + 16 <= 0x00800000;
            step.base = answer == '1' ? kSlot1Base : kSlot2Base;
            ref.steps.push_back(step);
            if (!step.writes) {
                ref.outcome = Outcome::Failed;
                return ref;
            }
            continue;
        }
        ref.steps.push_back(step);
        ref.outcome = Outcome::Boot;
        ref.payload = record.substr(16);
        return ref;
    }
    return ref;
}

size_t count_lines(const std::string& out, const std::string& line)
{
    size_t n = 0;
    for (size_t at = out.find(line); at != std::string::npos; at = out.find(line, at + 1))
        ++n;
    return n;
}

size_t banners(const std::string& out)
{
    return count_lines(out, "**** BOOT CODE ****\n") + count_lines(out, "**** KERNEL ****\n") +
           count_lines(out, "**** ROOTFILESYSTEM ****\n") + count_lines(out, "**** APPLICATION ****\n");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const uint8_t knobs = in.byte();
    const std::string keys = in.bytes(in.byte() % 64);
    std::string file = in.rest();
    if (knobs & 0x80)
        fix_crcs(file);

    sim::Board& board = fuzz::board();
    for (uint32_t base : kAreaBases)
        std::memset(board.flash.data() + base, 0xFF, kAreaSpan);
    board.flash.faults.clear();
    const uint32_t nth = (knobs >> 3) & 7;
    if ((knobs & 3) == 1)
        board.flash.faults.emplace_back(sim::FlashOp::Write, nth);
    if ((knobs & 3) == 2)
        board.flash.faults.emplace_back(sim::FlashOp::Erase, nth);
    if ((knobs & 3) == 3)
        board.flash.faults.emplace_back(sim::FlashOp::Write, nth, std::nullopt, true);
    if (knobs & 4)
        board.files.tmp_room = 0;
    board.console.input.clear();
    board.console.keys(keys);
    board.virtual_limit_us = 60'000'000;
    board.write_file("/tmp/image", file);
    // The application's marker: a booted record goes straight on to its launch.
    board.write_file("/tmp/home/bin/distro-id", "");
    board.write_file("/tmp/zarelimage.tar.gz", "");

    sim::Run r = fuzz::run([] {
        api_i2c_init();
        api_flash_init();
        return processTavikImage("/tmp/image");
    });
    const bool booted = r.end == sim::End::Exec;
    fuzz::require(booted || r.end == sim::End::Returned, "the walk returns or boots", &r);
    const bool failed = !booted && r.value == 0;
    fuzz::require(booted || r.value == 0 || r.value == 1, "the walk's result is 0 or 1", &r);

    const Reference ref = walk(file, keys);
    const size_t shown = banners(r.out);
    fuzz::require(shown <= ref.steps.size(), "no record beyond the reference's", &r);
    const size_t completed = failed && shown > 0 ? shown - 1 : shown;
    fuzz::require(ref.outcome != Outcome::Failed || ref.failed_before_banner || completed < ref.steps.size(),
                  "a bad record is not taken", &r);

    const bool sound = board.flash.faults.empty() && !board.files.tmp_room.has_value();
    if (sound) {
        fuzz::require(shown == ref.steps.size(), "a sound board handles the reference's records", &r);
        const Outcome got = booted ? Outcome::Boot : failed ? Outcome::Failed : Outcome::Walked;
        fuzz::require(got == ref.outcome, "a sound board ends as the reference", &r);
    }
    if (booted) {
        fuzz::require(ref.outcome == Outcome::Boot && completed == ref.steps.size(),
                      "only the reference boots", &r);
        fuzz::require(board.read_file("/tmp/zarelimage.tar.gz") == ref.payload, "the archive is the payload",
                      &r);
    }

    std::map<uint32_t, const std::string*> expected;
    for (size_t i = 0; i < completed; ++i)
        if (ref.steps[i].writes)
            expected[ref.steps[i].base] = &ref.steps[i].record;
    for (const auto& [base, record] : expected) {
        fuzz::require(record->size() <= kAreaSpan, "the record fits the checked span", &r);
        fuzz::require(std::memcmp(board.flash.data() + base, record->data(), record->size()) == 0,
                      "a record the walk got past is in flash", &r);
    }
    return 0;
}
