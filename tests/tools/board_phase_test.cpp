// imgtool send's one model of the board: what it types and says for each phase and each thing read on
// the line or each way of stopping, and how the board's text becomes those events.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "imgtool/send/board_phase.h"
#include "imgtool/send/line_events.h"

namespace {

struct TurnCase {
    const char* name;
    Phase phase;
    Event event;
    std::string keys;  // on the wire, the slot asked for being 2
    bool ends;
    std::string words;  // the start of what is said
};

void PrintTo(const TurnCase& c, std::ostream* os) { *os << c.name; }

const TurnCase kTurns[] = {
    // Nothing ever goes into a board on its way up or counting down
    {"CountdownWhileBooting", Phase::Booting, Event::Countdown, "", false,
     "the boot loader counts down: typing nothing"},
    {"RestartSignWhileCountingDown", Phase::Countdown, Event::RestartSign, "", false, ""},
    {"LoaderPromptBeforeTheMenu", Phase::Booting, Event::LoaderPrompt, "", true,
     "the board stopped at its boot loader's prompt: type boot there"},
    {"RecoveryQuestionAnsweredYes", Phase::Booting, Event::RecoveryQuestion, "y", false,
     "the board asks whether to enter recovery mode: answering y"},
    {"ApplicationBooting", Phase::Booting, Event::Launching, "", true,
     "the board is booting its application, not the rescue menu"},
    // A transfer asked for before this run is served; an earlier file is never installed
    {"StartReminderBeforeTheMenu", Phase::Booting, Event::StartReminder, "\r", false,
     "the board waits for the Enter that starts a transfer (asked for before this run)"},
    {"EndReminderBeforeTheMenu", Phase::Menu, Event::EndReminder, "", true,
     "the board waits for the Enter that installs a file received before this run"},
    {"SlotQuestionBeforeTheMenu", Phase::Booting, Event::SlotQuestion, "", true,
     "the board asks where to install a file received before this run"},
    {"StrayBytesBeforeTheMenu", Phase::Booting, Event::WrongSpeed, "", false,
     "bytes at another speed: listening at 115200 bit/s"},
    // A restart where the board should be receiving ends the run with nothing more typed
    {"RestartSignInTheBlocks", Phase::Receiving, Event::RestartSign, "", true,
     "the board restarted during the transfer: nothing was installed"},
    {"WrongSpeedInTheBlocks", Phase::Receiving, Event::WrongSpeed, "", true,
     "the board restarted during the transfer: nothing was installed"},
    {"CountdownAwaitingTheEndEnter", Phase::EndEnter, Event::Countdown, "", true,
     "the board restarted during the transfer"},
    {"MenuInTheInstall", Phase::Installing, Event::Menu, "", true, "the board restarted during the install"},
    {"OwnStartEnterLost", Phase::StartEnter, Event::StartReminder, "\r", false, ""},
    {"OwnEndEnterLost", Phase::EndEnter, Event::EndReminder, "\n", false, ""},
    {"SlotQuestionStillStanding", Phase::SlotQuestion, Event::Silence, "2\r", false,
     "the slot question still stands: answering again"},
    {"SilenceInTheInstall", Phase::Installing, Event::Silence, "", true,
     "the board went away during the install"},
    {"LineLostInTheInstall", Phase::Installing, Event::LineLost, "", true,
     "the line went away during the install: the board may be writing flash: do not power it off"},
    {"LineLostBeforeTheMenu", Phase::Booting, Event::LineLost, "", true,
     "no board answered: the line went away"},
    {"EchoedWakeKeyErased", Phase::Booting, Event::KeysEchoed, "\x7f", false, ""},
    {"ErasureTakenAtALinePrompt", Phase::Booting, Event::LinePromptEcho, "", true,
     "the board waits at a line prompt"},
    {"ErasureEchoedAsTyped", Phase::Booting, Event::Loopback, "", true,
     "no board answered: only the keys typed came back"},
};

class BoardTurn : public testing::TestWithParam<TurnCase> {};

TEST_P(BoardTurn, TypesAndSaysWhatThePhaseAllows)
{
    const TurnCase& c = GetParam();
    const Decision decision = decide(c.phase, c.event);
    EXPECT_EQ(keys_text(decision.keys, "2"), c.keys);
    EXPECT_EQ(decision.next == Next::End || decision.next == Next::Follow, c.ends);
    EXPECT_EQ(decision.said.substr(0, c.words.size()), c.words) << decision.said;
}

INSTANTIATE_TEST_SUITE_P(Turns, BoardTurn, testing::ValuesIn(kTurns),
                         [](const auto& info) { return info.param.name; });

struct StopCase {
    const char* name;
    Phase phase;
    Stop stop;
    Next next;
    std::string words;
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.name; }

const StopCase kStops[] = {
    {"CtrlCAtTheMenu", Phase::Menu, Stop::CtrlC, Next::End,
     "cancelled by the operator before the transfer: nothing was sent"},
    {"CtrlCBeforeTheStartEnter", Phase::StartEnter, Stop::CtrlC, Next::EndTransfer,
     "Ctrl-C: ending the transfer without a file"},
    {"CtrlCInTheBlocks", Phase::Receiving, Stop::CtrlC, Next::EndTransfer, "Ctrl-C: ending the transfer"},
    {"CtrlCAtTheSlotQuestion", Phase::SlotQuestion, Stop::CtrlC, Next::Wait,
     "Ctrl-C: the board is installing, and this tool goes on answering it"},
    {"SecondCtrlCBeforeTheStartEnter", Phase::StartEnter, Stop::SecondCtrlC, Next::End,
     "left at the operator's second Ctrl-C: nothing was sent; the board waits at 115200 bit/s for the Enter"},
    {"SecondCtrlCAtTheSlotQuestion", Phase::SlotQuestion, Stop::SecondCtrlC, Next::End,
     "left at the operator's second Ctrl-C: the board waits for the answer to its slot question: type 1 or 2 "
     "and Enter"},
    {"SignalInTheInstall", Phase::Installing, Stop::Signal, Next::End,
     "stopped by a signal (SIGTERM or SIGHUP): the board goes on installing: leave it powered until its menu "
     "shows"},
    {"SignalWhileBooting", Phase::Booting, Stop::Signal, Next::End,
     "stopped by a signal (SIGTERM or SIGHUP) before the transfer: nothing was sent"},
};

class BoardStop : public testing::TestWithParam<StopCase> {};

TEST_P(BoardStop, LeavesTheBoardWhereTheWordsSay)
{
    const StopCase& c = GetParam();
    const Decision decision = decide(c.phase, c.stop);
    EXPECT_EQ(decision.next, c.next);
    EXPECT_EQ(decision.keys, Keys::None);
    EXPECT_EQ(decision.said.substr(0, c.words.size()), c.words) << decision.said;
}

INSTANTIATE_TEST_SUITE_P(Stops, BoardStop, testing::ValuesIn(kStops),
                         [](const auto& info) { return info.param.name; });

// The phases' speeds as the board switches its port: the transfer's two waits and the blocks at
// 115200 bit/s, the console everywhere else at 9600.
TEST(BoardPhases, RunAtTheBoardsSpeeds)
{
    const std::vector<std::pair<Phase, unsigned>> speeds = {
        {Phase::Booting, 9600},     {Phase::Menu, 9600},          {Phase::StartEnter, 115200},
        {Phase::Receiving, 115200}, {Phase::EndEnter, 9600},      {Phase::SlotQuestion, 9600},
        {Phase::Installing, 9600},  {Phase::BootingResult, 9600},
    };
    for (const auto& [phase, speed] : speeds)
        EXPECT_EQ(phase_row(phase).speed, speed) << phase_row(phase).name;
}

struct FindCase {
    const char* name;
    std::string text;
    std::vector<Event> wanted;
    std::optional<Event> found;
};

void PrintTo(const FindCase& c, std::ostream* os) { *os << c.name; }

const FindCase kFinds[] = {
    {"EarliestOfTheWanted",
     "Entering Rescue Mode.\r\nOption? : ",
     {Event::Menu, Event::RestartSign},
     Event::RestartSign},
    {"UnwantedPassedOver", "U-Boot 2023.01\r\nOption? : ", {Event::Menu}, Event::Menu},
    {"LoaderPromptAsTheLastThing",
     "Hit any key to stop autoboot:  0 \r\n=> ",
     {Event::LoaderPrompt},
     Event::LoaderPrompt},
    {"LoaderPromptWithTextAfter", "=> boot\r\n## Booting kernel", {Event::LoaderPrompt}, std::nullopt},
    {"EightStrayBytes", std::string(8, '\0'), {Event::WrongSpeed}, Event::WrongSpeed},
    {"SevenNulsAndAHighByte", std::string(7, '\0') + "\xff", {Event::WrongSpeed}, Event::WrongSpeed},
    {"SixStrayBytesAreNoise", "ab" + std::string(6, '\x80') + "\r\n\tx\b", {Event::WrongSpeed}, std::nullopt},
    {"CountdownOfAnotherLoader", "Autobooting in 3 seconds", {Event::Countdown}, Event::Countdown},
};

class LineEvents : public testing::TestWithParam<FindCase> {};

TEST_P(LineEvents, AreFoundInTheBoardsText)
{
    const FindCase& c = GetParam();
    const std::optional<FoundEvent> found = find_event(c.text, 0, c.wanted);
    EXPECT_EQ(found ? std::optional(found->event) : std::nullopt, c.found);
}

INSTANTIATE_TEST_SUITE_P(Texts, LineEvents, testing::ValuesIn(kFinds),
                         [](const auto& info) { return info.param.name; });

}  // namespace
