// Power cuts during a rescue install: after every single erase and write of the install, the slot
// byte's write included, the board is booted afresh from its flash and EEPROM as the cut left them.
// It must start a whole application every time, never the slot that was being written.
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

#include "tests/support/install_scenario.h"

namespace {

using reliability::Started;

enum class Cut { AfterErase, AfterFlashWrite, AfterEepromWrite };

const char* name_of(Cut cut)
{
    switch (cut) {
    case Cut::AfterErase:
        return "erase";
    case Cut::AfterFlashWrite:
        return "flash write";
    case Cut::AfterEepromWrite:
        return "EEPROM write";
    }
    return "?";
}

void arm(sim::Board& board, Cut cut, uint32_t nth)
{
    board.flash.power_cut_after_erase = cut == Cut::AfterErase ? nth : 0;
    board.flash.power_cut_after_write = cut == Cut::AfterFlashWrite ? nth : 0;
    board.i2c.power_cut_after_write = cut == Cut::AfterEepromWrite ? nth : 0;
}

struct Campaign {
    int slot;                        // the slot the application is installed into
    std::map<Cut, uint32_t> points;  // operations of each kind in a whole install
    std::map<Started, uint32_t> outcomes;
    uint32_t total = 0;
};

class PowerCut : public testing::TestWithParam<int> {};

TEST_P(PowerCut, EveryCutLeavesABoardThatStartsAWholeApplication)
{
    Campaign campaign{GetParam(), {}, {}};
    sim::Board board;
    reliability::InstallScenario scenario(board, campaign.slot);
    scenario.prepare();
    const sim::Run whole = scenario.install();
    ASSERT_EQ(whole.value, 1) << whole.out;
    campaign.points = {{Cut::AfterErase, board.flash.counters().erases},
                       {Cut::AfterFlashWrite, board.flash.counters().writes},
                       {Cut::AfterEepromWrite, board.i2c.writes()}};
    ASSERT_EQ(board.i2c.writes(), 1u);

    for (const auto& [cut, count] : campaign.points) {
        for (uint32_t nth = 1; nth <= count; ++nth) {
            scenario.prepare();
            arm(board, cut, nth);
            const sim::Run cut_short = scenario.install();
            arm(board, cut, 0);
            ASSERT_EQ(cut_short.end, sim::End::PowerCut) << name_of(cut) << " " << nth;

            const Started expected = scenario.expected_start();
            const Started started = scenario.boot();
            EXPECT_NE(started, Started::Nothing) << "cut after " << name_of(cut) << " " << nth;
            EXPECT_EQ(started, expected) << "cut after " << name_of(cut) << " " << nth << ": started "
                                         << reliability::describe(started);
            ++campaign.outcomes[started];
            ++campaign.total;
        }
    }

    std::ostringstream summary;
    summary << "install into slot " << campaign.slot << ": " << campaign.total << " cut points ("
            << campaign.points[Cut::AfterErase] << " erases, " << campaign.points[Cut::AfterFlashWrite]
            << " flash writes, " << campaign.points[Cut::AfterEepromWrite]
            << " EEPROM write); started: " << reliability::describe(campaign.outcomes);
    std::printf("power cuts, %s\n", summary.str().c_str());
    RecordProperty("power_cuts", summary.str());

    // Until the slot byte names the new slot the old application starts; a slot being written over
    // gives way to the other one.
    const Started old_booted = Started::OldOfSlot1;
    const Started fallback = Started::OldOfSlot2;
    EXPECT_GT(campaign.outcomes[old_booted], 0u);
    EXPECT_GT(campaign.outcomes[campaign.slot == 2 ? Started::NewOfSlot2 : Started::NewOfSlot1], 0u);
    EXPECT_EQ(campaign.outcomes[fallback] > 0, campaign.slot == 1);
}

INSTANTIATE_TEST_SUITE_P(InstallInto, PowerCut, testing::Values(2, 1), [](const auto& info) {
    return info.param == 2 ? std::string("TheSlotNotBooted") : std::string("TheBootedSlot");
});

}  // namespace
