#include "install_scenario.h"

#include <cstring>
#include <sstream>

#include "bytes.h"
#include "installer_support.h"
#include "launch/launch.h"

namespace reliability {

namespace {

constexpr uint32_t kEraseSize = 0x4000;
constexpr uint32_t kPayloadLength = 2 * kEraseSize + kEraseSize / 4;
constexpr uint32_t kAreaLength = 4 * kEraseSize;
constexpr uint32_t kKernelBase = 0x01E00000;
constexpr uint32_t kRootFsBase = 0x01000000;

const std::vector<uint8_t>& old_application(int slot)
{
    static const std::vector<uint8_t> one = record_bytes(kMagicApplication, "old application of slot 1");
    static const std::vector<uint8_t> two = record_bytes(kMagicApplication, "old application of slot 2");
    return slot == 1 ? one : two;
}

uint32_t base_of(int slot) { return slot == 2 ? kSlot2Base : kSlot1Base; }

std::string payload_of(const std::vector<uint8_t>& record)
{
    return std::string(record.begin() + 16, record.end());
}

// The slot the boot tried last, as its console shows.
char last_attempt(const std::string& out)
{
    const std::string attempt = "Booting image '";
    const size_t at = out.rfind(attempt);
    return at == std::string::npos ? '?' : out[at + attempt.size()];
}

}  // namespace

std::string describe(Started started)
{
    switch (started) {
    case Started::OldOfSlot1:
        return "old application of slot 1";
    case Started::OldOfSlot2:
        return "old application of slot 2";
    case Started::NewOfSlot1:
        return "new application in slot 1";
    case Started::NewOfSlot2:
        return "new application in slot 2";
    case Started::Nothing:
        return "nothing";
    }
    return "?";
}

std::string describe(const std::map<Started, uint32_t>& outcomes)
{
    // A stream, not string concatenation: GCC 12 at -O3 takes "..." + std::string for an overlapping copy.
    std::ostringstream text;
    const char* separator = "";
    for (const auto& [started, count] : outcomes) {
        text << separator << describe(started) << " " << count;
        separator = ", ";
    }
    return text.str();
}

InstallScenario::InstallScenario(sim::Board& board, int slot)
    : board_(board), slot_(slot),
      new_application_(record_bytes(kMagicApplication, pattern_text(kPayloadLength)))
{
    board_.flash.reported_erase_size = kEraseSize;
    put_download(board_, {record_bytes(kMagicKernel, pattern_text(kPayloadLength + 3)),
                          record_bytes(kMagicRootFs, pattern_text(kPayloadLength + 5)), new_application_});
    unpack_compatible_image(board_);
}

void InstallScenario::prepare()
{
    for (uint32_t base : {kSlot1Base, kSlot2Base, kKernelBase, kRootFsBase})
        std::memset(board_.flash.data() + base, 0xFF, kAreaLength);
    board_.flash.load(kSlot1Base, old_application(1));
    board_.flash.load(kSlot2Base, old_application(2));
    board_.i2c.eeprom()[1] = 0x01;
    board_.i2c.cpld()[20] = 0x00;
    board_.console.input.clear();
    board_.console.keys(std::to_string(slot_) + "\n");
}

sim::Run InstallScenario::install() { return ::install(board_); }

bool InstallScenario::new_application_whole() const
{
    return board_.flash.bytes(base_of(slot_), static_cast<uint32_t>(new_application_.size())) ==
           new_application_;
}

Started InstallScenario::whole_record_of(int slot) const
{
    auto holds = [this, slot](const std::vector<uint8_t>& record) {
        return board_.flash.bytes(base_of(slot), static_cast<uint32_t>(record.size())) == record;
    };
    if (holds(new_application_))
        return slot == 1 ? Started::NewOfSlot1 : Started::NewOfSlot2;
    if (holds(old_application(slot)))
        return slot == 1 ? Started::OldOfSlot1 : Started::OldOfSlot2;
    return Started::Nothing;
}

Started InstallScenario::expected_start() const
{
    const int first = board_.i2c.eeprom()[1] == 2 ? 2 : 1;
    const Started started = whole_record_of(first);
    return started != Started::Nothing ? started : whole_record_of(3 - first);
}

Started InstallScenario::boot()
{
    board_.console.input.clear();
    const sim::Run r = board_.run([] { return launcher_main(0, nullptr); });
    if (r.end != sim::End::Exec)
        return Started::Nothing;
    const std::optional<std::string> archive = board_.read_file("/tmp/zarelimage.tar.gz");
    if (archive == payload_of(new_application_))
        return last_attempt(r.out) == '2' ? Started::NewOfSlot2 : Started::NewOfSlot1;
    if (archive == payload_of(old_application(1)))
        return Started::OldOfSlot1;
    if (archive == payload_of(old_application(2)))
        return Started::OldOfSlot2;
    return Started::Nothing;
}

}  // namespace reliability
