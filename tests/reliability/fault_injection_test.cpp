// Faults at each layer of a rescue install: every flash read, erase and write of a whole install
// failing in turn, every buffer allocation refused in turn, the EEPROM, the CPLD gate and whole
// devices failing.  The installer must report the failure (result 0), never say "succeeded" for a
// slot it did not write whole, change the slot byte only after its slot was written whole, and the
// board must then boot what the boot road's fallback gives.
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

#include "tests/support/install_scenario.h"

namespace {

using reliability::Started;

enum class Fault { FlashRead, FlashErase, FlashWrite, Allocation };

const char* name_of(Fault fault)
{
    switch (fault) {
    case Fault::FlashRead:
        return "flash read";
    case Fault::FlashErase:
        return "flash erase";
    case Fault::FlashWrite:
        return "flash write";
    case Fault::Allocation:
        return "allocation";
    }
    return "?";
}

void inject(sim::Board& board, Fault fault, uint32_t nth)
{
    board.flash.faults.clear();
    board.memory.fail_nth = 0;
    if (fault == Fault::Allocation)
        board.memory.fail_nth = nth;
    else if (nth != 0)
        board.flash.faults.push_back(sim::FlashFault(fault == Fault::FlashRead    ? sim::FlashOp::Read
                                                     : fault == Fault::FlashErase ? sim::FlashOp::Erase
                                                                                  : sim::FlashOp::Write,
                                                     nth));
}

// What every failed install must leave: result 0, no success for a slot not written whole, the slot
// byte as it was unless the slot is whole.
void expect_failed_install(const sim::Run& r, sim::Board& board, const reliability::InstallScenario& scenario,
                           int slot, const std::string& where)
{
    const bool whole = scenario.new_application_whole();
    EXPECT_EQ(r.end, sim::End::Returned) << where;
    EXPECT_EQ(r.value, 0) << where;
    const bool success_said = r.out.find("updated succeeded") != std::string::npos;
    EXPECT_TRUE(!success_said || whole) << where << ": success said for a slot not written whole";
    const uint8_t slot_byte = board.i2c.eeprom()[1];
    EXPECT_TRUE(slot_byte == 1 || (slot_byte == slot && whole)) << where << ": slot byte " << int(slot_byte);
}

class FaultWalk : public testing::TestWithParam<int> {};

TEST_P(FaultWalk, NoFailingOperationClaimsSuccessOrLeavesABoardThatCannotStart)
{
    const int slot = GetParam();
    sim::Board board;
    reliability::InstallScenario scenario(board, slot);
    scenario.prepare();
    const sim::Run whole = scenario.install();
    ASSERT_EQ(whole.value, 1) << whole.out;
    const std::map<Fault, uint32_t> points = {{Fault::FlashRead, board.flash.counters().reads},
                                              {Fault::FlashErase, board.flash.counters().erases},
                                              {Fault::FlashWrite, board.flash.counters().writes},
                                              {Fault::Allocation, board.memory.allocations()}};

    std::map<Started, uint32_t> outcomes;
    uint32_t total = 0;
    for (const auto& [fault, count] : points) {
        for (uint32_t nth = 1; nth <= count; ++nth) {
            const std::string where = std::string(name_of(fault)) + " " + std::to_string(nth);
            scenario.prepare();
            inject(board, fault, nth);
            const sim::Run r = scenario.install();
            inject(board, fault, 0);
            expect_failed_install(r, board, scenario, slot, where);

            const Started expected = scenario.expected_start();
            const Started started = scenario.boot();
            EXPECT_NE(started, Started::Nothing) << where;
            EXPECT_EQ(started, expected) << where << ": started " << reliability::describe(started);
            ++outcomes[started];
            ++total;
        }
    }

    std::ostringstream summary;
    summary << "install into slot " << slot << ": " << total << " faults (" << points.at(Fault::FlashRead)
            << " reads, " << points.at(Fault::FlashErase) << " erases, " << points.at(Fault::FlashWrite)
            << " writes, " << points.at(Fault::Allocation)
            << " allocations); started: " << reliability::describe(outcomes);
    std::printf("fault walk, %s\n", summary.str().c_str());
    RecordProperty("fault_walk", summary.str());
    // A slot written over in part gives way to the other one.
    EXPECT_EQ(outcomes[Started::OldOfSlot2] > 0, slot == 1);
}

INSTANTIATE_TEST_SUITE_P(InstallInto, FaultWalk, testing::Values(2, 1), [](const auto& info) {
    return info.param == 2 ? std::string("TheSlotNotBooted") : std::string("TheBootedSlot");
});

// Devices that fail for the install and stay failing for the boot after it.
struct DeviceCase {
    const char* name;
    std::function<void(sim::Board&)> setup;
    bool flash_readable;  // the boot can read the slots: it starts what they hold, else the board resets
};

const DeviceCase kDeviceCases[] = {
    {"EepromTransferFails", [](sim::Board& b) { b.i2c.fail_transfer_nth = 1; }, true},
    {"NoEeprom", [](sim::Board& b) { b.i2c.eeprom_missing = true; }, true},
    {"NoBus", [](sim::Board& b) { b.i2c.bus_missing = true; }, true},
    {"NoCpld", [](sim::Board& b) { b.i2c.cpld_missing = true; }, true},
    {"CpldSeekFails", [](sim::Board& b) { b.i2c.cpld_seek_fails = true; }, true},
    {"CpldReadFails", [](sim::Board& b) { b.i2c.cpld_read_fails = true; }, true},
    {"CpldWriteFails", [](sim::Board& b) { b.i2c.cpld_write_fails = true; }, true},
    {"NoFlash", [](sim::Board& b) { b.flash.missing = true; }, false},
    {"FlashInfoFails", [](sim::Board& b) { b.flash.info_fails = true; }, false},
    {"FlashReadOnly", [](sim::Board& b) { b.flash.read_only = true; }, true},
    {"FlashReadsFail", [](sim::Board& b) { b.flash.faults = {sim::FlashFault(sim::FlashOp::Read)}; }, false},
    {"FlashErasesFail", [](sim::Board& b) { b.flash.faults = {sim::FlashFault(sim::FlashOp::Erase)}; }, true},
    {"FlashWritesFail", [](sim::Board& b) { b.flash.faults = {sim::FlashFault(sim::FlashOp::Write)}; }, true},
    {"NoMemoryForASector", [](sim::Board& b) { b.memory.fail_from_size = 0x4000; }, true},
};

void PrintTo(const DeviceCase& c, std::ostream* os) { *os << c.name; }

class DeviceFailure : public testing::TestWithParam<std::tuple<DeviceCase, int>> {};

TEST_P(DeviceFailure, FailsTheInstallAndTheBoardBootsWhatItCan)
{
    const auto& [c, slot] = GetParam();
    sim::Board board;
    reliability::InstallScenario scenario(board, slot);
    scenario.prepare();
    c.setup(board);

    const sim::Run r = scenario.install();

    expect_failed_install(r, board, scenario, slot, c.name);
    const Started expected = c.flash_readable ? scenario.expected_start() : Started::Nothing;
    EXPECT_EQ(reliability::describe(scenario.boot()), reliability::describe(expected));
}

INSTANTIATE_TEST_SUITE_P(Devices, DeviceFailure,
                         testing::Combine(testing::ValuesIn(kDeviceCases), testing::Values(2, 1)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "_IntoSlot" +
                                    std::to_string(std::get<1>(info.param));
                         });

}  // namespace
