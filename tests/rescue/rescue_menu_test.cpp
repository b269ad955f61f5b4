// The rescue menu: what each key does, interrupts at every point of the dialogue, and the end of the
// console's input.
#include <functional>
#include <gtest/gtest.h>

#include "launch/launch.h"
#include "rescue/rescue.h"
#include "sim/board.h"
#include "tests/support/console_texts.h"
#include "tests/support/launch_support.h"

namespace {

using Kind = sim::Event::Kind;

const std::string& kEntry = kRescueEntry;
const std::string& kMenu = kRescueMenu;
const std::string& kPrompt = kRescuePrompt;
// Exit chosen: the newline after the choice, then the menu returns 1.
const std::string kChosen = "\n";

struct MenuCase {
    const char* name;
    std::function<void(sim::Board&)> setup;
    std::string out;
    Lines ending;  // shell lines and the way the run ended
};

const MenuCase kCases[] = {
    {"ExitUpperCase",
     [](sim::Board& b) { b.console.keys("E"); },
     kEntry + kMenu + kPrompt + kChosen,
     {"ret:1"}},
    {"ExitLowerCase",
     [](sim::Board& b) { b.console.keys("e"); },
     kEntry + kMenu + kPrompt + kChosen,
     {"ret:1"}},
    {"RebootUpperCase",
     [](sim::Board& b) { b.console.keys("R"); },
     kEntry + kMenu + kPrompt + kChosen,
     {"sleep:1000000", "sh:reboot", "exit:0"}},
    {"RebootLowerCase",
     [](sim::Board& b) { b.console.keys("r"); },
     kEntry + kMenu + kPrompt + kChosen,
     {"sleep:1000000", "sh:reboot", "exit:0"}},
    {"UnlistedU",
     [](sim::Board& b) { b.console.keys("ue"); },
     kEntry + kMenu + kPrompt + "\nUnknown option 85. Quitting\n" + kMenu + kPrompt + kChosen,
     {"ret:1"}},
    {"UnlistedLowerD",
     [](sim::Board& b) { b.console.keys("de"); },
     kEntry + kMenu + kPrompt + "\nUnknown option 68. Quitting\n" + kMenu + kPrompt + kChosen,
     {"ret:1"}},
    {"UnknownKeyIsShownUpperCased",
     [](sim::Board& b) { b.console.keys("qe"); },
     kEntry + kMenu + kPrompt + "unknown option \"Q\". Please try again\n" + kPrompt + kChosen,
     {"ret:1"}},
    {"LoneEnterIsAnUnknownKey",
     [](sim::Board& b) { b.console.keys("\ne"); },
     kEntry + kMenu + kPrompt + "unknown option \"\n\". Please try again\n" + kPrompt + kChosen,
     {"ret:1"}},
    {"NulKeyIsNoKey",
     [](sim::Board& b) { b.console.keys(std::string("\0e", 2)); },
     kEntry + kMenu + kPrompt + kPrompt + kChosen,
     {"ret:1"}},
    // The handler sets the flag and does not restart the read: the prompt comes again, the next
    // key counts.
    {"InterruptAtThePrompt",
     [](sim::Board& b) { b.console.interrupt().keys("qe"); },
     kEntry + kMenu + kPrompt + kPrompt + "unknown option \"Q\". Please try again\n" + kPrompt + kChosen,
     {"ret:1"}},
    // An interrupt that came while the prompt was printed drops the key read after it.
    {"InterruptWhileThePromptIsPrinted",
     [](sim::Board& b) { b.console.signal().keys("xe"); },
     kEntry + kMenu + kPrompt + kPrompt + kChosen,
     {"ret:1"}},
    {"DownloadLowerCaseWithoutAPort",
     [](sim::Board& b) {
         b.serial.missing = true;
         b.console.keys("xE");
     },
     kEntry + kMenu + kPrompt + kChosen + kRescueDownload + kMenu + kPrompt + kChosen,
     {"ret:1"}},
    {"DownloadUpperCaseWithoutAPort",
     [](sim::Board& b) {
         b.serial.missing = true;
         b.console.keys("Xe");
     },
     kEntry + kMenu + kPrompt + kChosen + kRescueDownload + kMenu + kPrompt + kChosen,
     {"ret:1"}},
    // The console has gone: the menu is left as with Exit, so the boot goes on.
    {"EndOfInput", [](sim::Board&) {}, kEntry + kMenu + kPrompt + kChosen, {"ret:1"}},
    {"EndOfInputAfterAnUnknownKey",
     [](sim::Board& b) { b.console.keys("z"); },
     kEntry + kMenu + kPrompt + "unknown option \"Z\". Please try again\n" + kPrompt + kChosen,
     {"ret:1"}},
};

void PrintTo(const MenuCase& c, std::ostream* os) { *os << c.name; }

class RescueMenu : public testing::TestWithParam<MenuCase> {};

TEST_P(RescueMenu, ActsOnTheKeyTyped)
{
    const MenuCase& c = GetParam();
    sim::Board board;
    c.setup(board);

    sim::Run r = board.run([] {
        sig_init();
        return run_rescue_mode();
    });

    EXPECT_EQ(r.out, c.out);
    Lines ending;
    for (const std::string& step : r.steps({Kind::Shell, Kind::Exit, Kind::Sleep}))
        ending.push_back(step);
    if (r.end == sim::End::Returned)
        ending.push_back("ret:" + std::to_string(r.value));
    EXPECT_EQ(ending, c.ending);
}

INSTANTIATE_TEST_SUITE_P(Keys, RescueMenu, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RescueMenu, ASecondCallAnnouncesRescueModeAgain)
{
    sim::Board board;
    board.console.keys("ee");
    sim::Run r = board.run([] { return run_rescue_mode() + run_rescue_mode(); });
    EXPECT_EQ(r.value, 2);
    EXPECT_EQ(r.out, kEntry + kMenu + kPrompt + kChosen + kEntry + kMenu + kPrompt + kChosen);
}

}  // namespace
