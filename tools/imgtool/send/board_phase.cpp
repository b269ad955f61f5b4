#include "imgtool/send/board_phase.h"

#include "imgtool/command.h"
#include "imgtool/send/failure_phrases.h"

namespace {

constexpr std::string_view kNothingSent = " before the transfer: nothing was sent";

constexpr PhaseRow kPhases[] = {
    {Phase::Booting, "booting", 9600, "nothing: it is starting",
     "nothing; y once into a line silent since opened", true, std::string_view(kNothingSent)},
    {Phase::Countdown, "boot loader counting down", 9600, "nothing: it boots on when the count ends",
     "nothing", true, std::string_view(kNothingSent)},
    {Phase::LoaderPrompt, "at the boot loader's prompt", 9600, "a command", "nothing", true,
     std::string_view(kNothingSent)},
    {Phase::Menu, "at the rescue menu", 9600, "a menu key", "x, and y to show the prompt again", true,
     std::string_view(kNothingSent)},
    {Phase::StartEnter, "waiting for the Enter that starts a transfer", 115200, "carriage return",
     "carriage return", false,
     ": nothing was sent; the board waits at 115200 bit/s for the Enter that starts a transfer: power-cycle it "
     "(nothing has been written) before the next download"},
    {Phase::Receiving, "receiving", 115200, "the next block", "blocks, the end of the file, a cancel", false,
     ": nothing was installed; the board gives the transfer up within about 20 s, then asks to switch back to "
     "9600 bit/s and waits for Enter: power-cycle it before the next download"},
    {Phase::EndEnter, "waiting for the Enter after the transfer", 9600, "line feed", "line feed", false,
     ": nothing was installed; the board waits for the Enter after the transfer, which would install what it "
     "received: power-cycle it before the next download"},
    {Phase::SlotQuestion, "at the slot question", 9600, "1 or 2 and Enter (Enter alone boots once)",
     "the slot asked for and carriage return", false,
     ": the board waits for the answer to its slot question: type 1 or 2 and Enter (Enter alone boots the "
     "application once without writing it)"},
    {Phase::Installing, "installing", 9600, "nothing: it writes flash", "nothing", false,
     ": the board goes on installing: leave it powered until its menu shows"},
    {Phase::BootingResult, "booting the result", 9600, "nothing, or E at a rescue menu that comes back",
     "r, and e at the rescue menu", true, ": its next boot was not checked"},
};

std::string text(std::string_view phrase) { return std::string(phrase); }

Decision wait(Phase phase, std::string said = "") { return {Keys::None, phase, Next::Wait, EXIT_OK, said}; }

Decision end(Phase phase, int status, std::string said)
{
    return {Keys::None, phase, Next::End, status, said};
}

bool before_transfer(Phase phase)
{
    return phase == Phase::Booting || phase == Phase::Countdown || phase == Phase::LoaderPrompt ||
           phase == Phase::Menu;
}

bool in_transfer(Phase phase)
{
    return phase == Phase::StartEnter || phase == Phase::Receiving || phase == Phase::EndEnter;
}

bool in_install(Phase phase) { return phase == Phase::SlotQuestion || phase == Phase::Installing; }

// A board that started again while the tool was sending, or had the file: nothing more goes to it.
Decision restarted_in_transfer()
{
    return {Keys::None, Phase::Booting, Next::Follow, EXIT_FAILED,
            text(phrase::RESTARTED_IN_TRANSFER) + ": nothing was installed"};
}

Decision restart_sign(Phase phase)
{
    if (in_transfer(phase))
        return restarted_in_transfer();
    if (in_install(phase))
        return end(Phase::Booting, EXIT_FAILED, text(phrase::RESTARTED));
    return wait(phase == Phase::BootingResult ? phase : Phase::Booting);
}

Decision silence(Phase phase)
{
    switch (phase) {
    case Phase::Booting:
    case Phase::Countdown:
    case Phase::LoaderPrompt:
        return end(phase, EXIT_FAILED, text(phrase::NEVER_SHOWED_MENU));
    case Phase::Menu:
        return end(phase, EXIT_FAILED, text(phrase::NO_DOWNLOAD_AFTER_X) + " (no answer)");
    case Phase::StartEnter:
    case Phase::Receiving:
        return {Keys::None, Phase::EndEnter, Next::Follow, EXIT_FAILED,
                text(phrase::STOPPED_ANSWERING) + "; the transfer was given up"};
    case Phase::EndEnter:
        return end(phase, EXIT_FAILED, text(phrase::NO_SWITCH_BACK) + " (no answer)");
    case Phase::SlotQuestion:
        // The answer's Enter was lost: the installer takes the first character of the line
        return {Keys::SlotAnswer, Phase::SlotQuestion, Next::Wait, EXIT_OK,
                "the slot question still stands: answering again"};
    case Phase::Installing:
        return end(phase, EXIT_FAILED,
                   text(phrase::WENT_AWAY) +
                       " (it fell silent): do not trust its flash until a download completes; power-cycle "
                       "it and download again");
    case Phase::BootingResult:
        return end(phase, EXIT_FAILED, text(phrase::APPLICATION_DID_NOT_START) + " (no answer)");
    }
    return end(phase, EXIT_FAILED, "");
}

Decision line_lost(Phase phase)
{
    if (before_transfer(phase))
        return end(phase, EXIT_NO_BOARD, text(phrase::NO_BOARD) + ": the line went away");
    if (in_transfer(phase))
        return end(phase, EXIT_FAILED, text(phrase::LINE_LOST) + "; nothing was installed");
    if (in_install(phase))
        return end(phase, EXIT_FAILED,
                   text(phrase::LINE_LOST_IN_INSTALL) +
                       ": the board may be writing flash: do not power it off; plug the line in again, watch "
                       "for its menu with a terminal program, and download again if the install did not end "
                       "with \"updated succeeded\"");
    return end(phase, EXIT_FAILED,
               text(phrase::LINE_LOST_AFTER_INSTALL) + std::string(phase_row(phase).left));
}

}  // namespace

const PhaseRow& phase_row(Phase phase)
{
    for (const PhaseRow& row : kPhases) {
        if (row.phase == phase)
            return row;
    }
    return kPhases[0];
}

Decision decide(Phase phase, Event event)
{
    switch (event) {
    case Event::Menu:
        if (in_transfer(phase) || in_install(phase))
            return restart_sign(phase);
        return wait(phase == Phase::BootingResult ? phase : Phase::Menu);
    case Event::RecoveryQuestion:
        if (phase == Phase::BootingResult)
            return end(phase, EXIT_FAILED, text(phrase::ASKS_RECOVERY));
        if (!before_transfer(phase))
            return restart_sign(phase);
        return {Keys::WakeKey, Phase::Booting, Next::Wait, EXIT_OK,
                "the board asks whether to enter recovery mode: answering y"};
    case Event::Launching:
        if (phase == Phase::BootingResult)
            return wait(phase);
        if (!before_transfer(phase))
            return restart_sign(phase);
        return end(phase, EXIT_FAILED,
                   text(phrase::BOOTING_APPLICATION) +
                       ": set diagnostics=rescue in the boot loader's environment and power-cycle it, or "
                       "power-cycle it and answer y to the recovery question");
    case Event::Countdown:
        if (!before_transfer(phase) && phase != Phase::BootingResult)
            return restart_sign(phase);
        return wait(Phase::Countdown,
                    phase == Phase::Countdown
                        ? ""
                        : "the boot loader counts down: typing nothing, so that it boots on");
    case Event::LoaderPrompt:
        if (!before_transfer(phase) && phase != Phase::BootingResult)
            return restart_sign(phase);
        return end(
            Phase::LoaderPrompt, EXIT_FAILED,
            text(phrase::AT_LOADER_PROMPT) +
                ": type boot there to go on, or setenv diagnostics rescue; saveenv; boot for the rescue "
                "menu, then run the command again");
    case Event::RestartSign:
    case Event::BootingSlot:
    case Event::RescueEntered:
        return restart_sign(phase);
    case Event::StartReminder:
        if (before_transfer(phase))
            return {Keys::StartEnter, Phase::Receiving, Next::Wait, EXIT_OK,
                    text(phrase::WAITS_TO_START) +
                        " (asked for before this run): sending the download to it"};
        return {Keys::StartEnter, phase, Next::Wait, EXIT_OK, ""};
    case Event::EndReminder:
        if (phase == Phase::EndEnter)
            return {Keys::EndEnter, phase, Next::Wait, EXIT_OK, ""};
        if (!before_transfer(phase))
            return wait(phase);
        return end(
            Phase::EndEnter, EXIT_FAILED,
            text(phrase::WAITS_TO_INSTALL) +
                " received before this run, which this tool did not send: do not press Enter (it would "
                "install that file); power-cycle the board (nothing of it is installed yet) and run the "
                "command again");
    case Event::SlotQuestion:
        if (in_install(phase) || phase == Phase::EndEnter)
            return {Keys::SlotAnswer, Phase::Installing, Next::Wait, EXIT_OK, ""};
        return end(Phase::SlotQuestion, EXIT_FAILED,
                   text(phrase::ASKS_FOR_EARLIER_FILE) +
                       ", which this tool did not send: do not answer it (Enter alone would boot that file); "
                       "power-cycle the board (nothing of it is installed yet) and run the command again");
    case Event::KeysEchoed:
        return {Keys::Erase, phase, Next::Wait, EXIT_OK, ""};
    case Event::Loopback:
        return end(phase, EXIT_NO_BOARD,
                   text(phrase::NO_BOARD) + ": only the keys typed came back, and the erase key as typed (" +
                       text(phrase::LOOPBACK) + ")");
    case Event::LinePromptEcho:
        return end(
            phase, EXIT_FAILED,
            text(phrase::AT_LINE_PROMPT) +
                " (it echoed the key and took its erasure): at the boot loader's prompt type boot, or "
                "setenv diagnostics rescue; saveenv; boot; at the installer's slot question power-cycle "
                "it; then run the command again");
    case Event::WrongSpeed:
        if (before_transfer(phase))
            return {Keys::None, phase, Next::Listen, EXIT_OK,
                    "bytes at another speed: listening at 115200 bit/s for a board that waits for the Enter "
                    "that starts a transfer"};
        if (in_transfer(phase))
            return restarted_in_transfer();
        return wait(phase);
    case Event::Silence:
        return silence(phase);
    case Event::LineLost:
        return line_lost(phase);
    default:
        // The texts a step of the conversation waits for in turn, and a stop, which is decided by its
        // reason: nothing changes here
        return wait(phase);
    }
}

Decision decide(Phase phase, Stop stop)
{
    const PhaseRow& row = phase_row(phase);
    if (stop == Stop::Signal)
        return end(phase, EXIT_FAILED, text(phrase::STOPPED_BY_SIGNAL) + std::string(row.left));
    if (stop == Stop::SecondCtrlC)
        return end(phase, EXIT_FAILED, text(phrase::LEFT_AT_SECOND_CTRL_C) + std::string(row.left));
    if (row.first_ctrl_c_leaves)
        return end(phase, EXIT_FAILED, text(phrase::CANCELLED) + std::string(row.left));
    if (phase == Phase::StartEnter || phase == Phase::Receiving)
        return {
            Keys::None, phase, Next::EndTransfer, EXIT_OK,
            "Ctrl-C: ending the transfer without a file, so that the board gives it up and shows its menu "
            "(Ctrl-C again leaves at once)"};
    if (phase == Phase::EndEnter)
        return wait(phase,
                    "Ctrl-C: the board waits for the Enter after the transfer, and this tool types it and "
                    "follows the board to its menu (Ctrl-C again leaves at once)");
    return wait(phase,
                "Ctrl-C: the board is installing, and this tool goes on answering it until its walk ends "
                "(Ctrl-C again leaves at once)");
}

std::string keys_text(Keys keys, const std::string& slot)
{
    switch (keys) {
    case Keys::None:
        return "";
    case Keys::WakeKey:
        return "y";
    case Keys::StartEnter:
        return "\r";
    case Keys::EndEnter:
        return "\n";
    case Keys::SlotAnswer:
        return slot + "\r";
    case Keys::Erase:
        return "\x7f";
    }
    return "";
}
