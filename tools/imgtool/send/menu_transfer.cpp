// Finding the board at its menu and switching its line for the transfer and back.
#include <string>
#include <vector>

#include "imgtool/command.h"
#include "imgtool/send/board_texts.h"
#include "imgtool/send/boot_signs.h"
#include "imgtool/send/conversation.h"
#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/line_events.h"
#include "imgtool/send/send_limits.h"
#include "imgtool/send/stop_signals.h"

namespace {

using Clock = std::chrono::steady_clock;

// Stray bytes on a silent line are worth a listen at the transfer's speed: a board waiting there for
// the Enter that starts a transfer reminds every 11 s, and its reminder reads as a few such bytes
constexpr size_t kStrayBytesWorthAListen = 3;
constexpr double kQuietAfterStrayBytes = 2.0;
constexpr Event kStartReminder[] = {Event::StartReminder};

std::string phrase_text(std::string_view phrase) { return std::string(phrase); }

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

BoardResult no_menu(LineWatch& watch, int wait_seconds)
{
    const std::string wait = std::to_string(wait_seconds) + " s";
    if (watch.seen().empty())
        return watch.fail(EXIT_NO_BOARD,
                          phrase_text(phrase::NO_BOARD) + " within " + wait +
                              ": nothing came back on the line; check the cable and the adapter, "
                              "and that the board is powered");
    const std::vector<std::string> lines = lines_of(watch.seen());
    return watch.fail(EXIT_FAILED, phrase_text(phrase::NEVER_SHOWED_MENU) + " within " + wait +
                                       " (its last line: \"" + (lines.empty() ? "" : lines.back()) +
                                       "\"): set diagnostics=rescue at the boot loader's prompt (setenv "
                                       "diagnostics rescue; saveenv) and power-cycle it");
}

// Only the wake-up key came back: erased with the erase character a line prompt takes, whose echo
// tells a looped-back line (the key as typed) from a board at a line prompt (a backspace).
BoardResult erase_echoed_keys(LineWatch& watch)
{
    watch.carry_out(decide(watch.phase(), Event::KeysEchoed));
    const size_t start = watch.seen().size();
    watch.settle(static_cast<int>(limit::ERASE_ECHO * 1000));
    const std::string echo = watch.since(start);
    const bool taken = echo.find('\b') != std::string::npos;
    return *watch.carry_out(decide(watch.phase(), taken ? Event::LinePromptEcho : Event::Loopback));
}

// The board's text since the mark is a few stray bytes and then quiet: text at another speed.
bool stray_bytes_then_quiet(const LineWatch& watch)
{
    const std::string text = watch.since(watch.mark());
    return wrong_speed_bytes(text) >= kStrayBytesWorthAListen &&
           watch.quiet_seconds() >= kQuietAfterStrayBytes;
}

// Listens at the transfer's speed, typing nothing, for a board that waits for the Enter that starts a
// transfer; a byte that is not text at that speed ends the listen (the board talks at the console's).
bool board_waits_to_start(LineWatch& watch)
{
    watch.carry_out(decide(watch.phase(), Event::WrongSpeed));
    watch.skip_to_end();
    if (!watch.line().set_speed(phase_row(Phase::StartEnter).speed))
        return false;
    const Clock::time_point start = Clock::now();
    while (seconds_since(start) < limit::START_REMINDER) {
        if (find_event(watch.seen(), watch.mark(), kStartReminder))
            return true;
        if (wrong_speed_bytes(watch.since(watch.mark())) > 0 || !watch.pump(100))
            break;
    }
    watch.skip_to_end();
    watch.line().set_speed(BOARD_CONSOLE_SPEED);
    return false;
}

// The speed the board names, followed by the given end of its request.
std::optional<unsigned> read_speed(LineWatch& watch, std::string_view end_text, Event end)
{
    const size_t digits = watch.mark();
    if (watch.await({end}, limit::PROMPT) != end)
        return std::nullopt;
    const std::string number = watch.seen().substr(digits, watch.mark() - end_text.size() - digits);
    if (number.empty() || number.size() > 7 || number.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned speed = static_cast<unsigned>(std::stoul(number));
    return termios_speed(speed) ? std::optional(speed) : std::nullopt;
}

}  // namespace

std::optional<BoardResult> find_board(LineWatch& watch, int wait_seconds)
{
    const Clock::time_point start = Clock::now();
    watch.note("waiting up to " + std::to_string(wait_seconds) +
               " s for the board's rescue menu (power the board on now if it is off)");
    bool poked = false;
    watch.set_phase(Phase::Booting);
    while (true) {
        const Event event = watch.await({Event::Menu, Event::RecoveryQuestion, Event::Launching,
                                         Event::StartReminder, Event::EndReminder, Event::SlotQuestion,
                                         Event::Countdown, Event::RestartSign, Event::LoaderPrompt},
                                        1.0);
        if (event == Event::Menu) {
            watch.set_phase(Phase::Menu);
            return std::nullopt;
        }
        if (event == Event::Stopped)
            return watch.carry_out(decide(watch.phase(), watch.stop()));
        // The Enter that starts a transfer goes at the transfer's speed
        if (event == Event::StartReminder && !watch.line().set_speed(phase_row(Phase::StartEnter).speed))
            return watch.fail(EXIT_FAILED, phrase_text(phrase::CANNOT_SWITCH) + " (115200 bit/s)");
        if (event != Event::Silence) {
            if (auto result = watch.carry_out(decide(watch.phase(), event)))
                return result;
            if (watch.phase() == Phase::Receiving)
                return std::nullopt;
            continue;
        }
        if (poked && !watch.seen().empty() && watch.seen() == watch.typed())
            return erase_echoed_keys(watch);
        if (stray_bytes_then_quiet(watch) && board_waits_to_start(watch)) {
            watch.carry_out(decide(watch.phase(), Event::StartReminder));
            return std::nullopt;
        }
        // The wait stretches while the board prints: a board in the middle of its boot is left to end it
        const double waited = seconds_since(start);
        if (waited >= wait_seconds && (watch.seen().empty() || watch.quiet_seconds() >= limit::WAIT_QUIET ||
                                       waited >= wait_seconds + limit::WAIT_STRETCH))
            return no_menu(watch, wait_seconds);
        if (!poked && watch.seen().empty() && watch.quiet_seconds() >= limit::QUIET_BEFORE_WAKE_KEY) {
            poked = true;
            watch.type(keys_text(Keys::WakeKey, ""));
        }
    }
}

std::optional<BoardResult> start_download(LineWatch& watch)
{
    watch.note("pressing X");
    // From the X on, a first Ctrl-C no longer leaves the board waiting at the transfer's speed: the
    // transfer it starts is ended without a file, and the board shows its menu again
    watch.set_interrupt_limit(2, decide(Phase::StartEnter, Stop::CtrlC).said);
    // Only what follows the X answers it
    watch.skip_to_end();
    watch.type("x");
    const Event asked =
        watch.await({Event::SpeedRequest, Event::PortFailure, Event::RestartSign}, limit::PROMPT);
    if (asked == Event::PortFailure)
        return watch.fail(EXIT_FAILED, phrase_text(phrase::REPORTED) + " " +
                                           std::string(board_text::PORT_FAILURE) +
                                           " (it cannot open its download port)");
    if (asked != Event::SpeedRequest)
        return end_unplanned(watch, asked, phrase::NO_DOWNLOAD_AFTER_X);
    watch.set_phase(Phase::StartEnter);
    const std::optional<unsigned> speed =
        read_speed(watch, board_text::SPEED_REQUEST_END, Event::SpeedRequestEnd);
    if (!speed)
        return watch.fail(EXIT_FAILED, phrase_text(phrase::UNREADABLE_SPEED));
    if (const Event rest = watch.await({Event::BeforeDownload}, limit::PROMPT); rest != Event::BeforeDownload)
        return end_unplanned(watch, rest, phrase::NO_DOWNLOAD_AFTER_X);
    watch.settle(limit::SWITCH_DELAY_MS);
    if (!watch.line().set_speed(*speed))
        return watch.fail(EXIT_FAILED,
                          phrase_text(phrase::CANNOT_SWITCH) + " (" + std::to_string(*speed) + " bit/s)");
    watch.note("switched to " + std::to_string(*speed) + " bit/s, hitting Enter");
    watch.type(keys_text(Keys::StartEnter, ""));
    watch.set_phase(Phase::Receiving);
    return std::nullopt;
}

std::optional<BoardResult> switch_back(LineWatch& watch)
{
    watch.set_phase(Phase::EndEnter);
    const Event asked = watch.await({Event::SpeedBack, Event::RestartSign, Event::WrongSpeed, Event::Menu},
                                    limit::SWITCH_BACK);
    if (asked != Event::SpeedBack)
        return end_unplanned(watch, asked, phrase::NO_DOWNLOAD_AFTER_X);
    const std::optional<unsigned> speed = read_speed(watch, board_text::SPEED_BACK_END, Event::SpeedBackEnd);
    watch.settle(limit::SWITCH_DELAY_MS);
    if (!speed || !watch.line().set_speed(*speed))
        return watch.fail(EXIT_FAILED, phrase_text(phrase::CANNOT_SWITCH) + " after the transfer");
    watch.note("switched back to " + std::to_string(*speed) + " bit/s, hitting Enter");
    watch.type(keys_text(Keys::EndEnter, ""));
    return std::nullopt;
}

BoardResult end_given_up_transfer(LineWatch& watch, const xmodem::Result& sent)
{
    const bool by_operator = sent.outcome == xmodem::Outcome::Interrupted;
    // Nothing more is awaited after a signal: the board is left to end the transfer on its own
    if (by_operator && leaving_at_once())
        return watch.fail(EXIT_FAILED,
                          phrase_text(phrase::STOPPED_BY_SIGNAL) +
                              " during the transfer: nothing was installed; " +
                              (sent.acknowledged == 0 ? "the board ends its wait at once"
                                                      : "the board gives the transfer up within about 20 s") +
                              ", then asks to switch back to 9600 bit/s and waits for Enter: power-cycle it "
                              "before the next download");
    if (by_operator) {
        watch.note(sent.acknowledged == 0 ? "cancelling before the first block: the board ends its wait"
                                          : "cancelling: the board gives the transfer up after about 20 "
                                            "seconds without blocks (Ctrl-C again leaves at once)");
        watch.set_interrupt_limit(2);
    }
    const std::string what = xmodem::describe(sent.outcome);
    if (auto failure = switch_back(watch))
        return {EXIT_FAILED,
                "failed: " + what + ", but " + failure->summary.substr(std::string("failed: ").size())};
    const Event found = await_answering_reminder(watch, {Event::Menu}, limit::PROMPT);
    if (found != Event::Menu)
        return watch.fail(EXIT_FAILED,
                          what + "; nothing was installed, but " + phrase_text(phrase::MENU_NOT_BACK) +
                              (found == Event::LineLost ? ": the line went away" : " (no answer)"));
    watch.set_phase(Phase::Menu);
    return watch.fail(EXIT_FAILED, what + "; nothing was installed, and its menu is back");
}

BoardResult follow_restart(LineWatch& watch, const Decision& decision)
{
    watch.set_phase(decision.phase);
    watch.line().set_speed(phase_row(decision.phase).speed);
    const size_t start = watch.seen().size();
    watch.settle(static_cast<int>(limit::RESTART_LINES * 1000));
    const std::optional<int> slot = booted_slot(watch.since(start));
    return watch.fail(
        decision.status,
        decision.said + "; " +
            (slot ? "the board boots slot " + std::to_string(*slot)
                  : std::string("the board boots the slot it booted before this download (nothing "
                                "was written)")) +
            ": download again");
}

BoardResult end_unplanned(LineWatch& watch, Event event, std::string_view otherwise)
{
    const Decision decision =
        event == Event::Stopped ? decide(watch.phase(), watch.stop()) : decide(watch.phase(), event);
    if (decision.next == Next::Follow)
        return follow_restart(watch, decision);
    if (auto result = watch.carry_out(decision))
        return *result;
    return watch.fail(EXIT_FAILED, std::string(otherwise));
}

Event await_answering_reminder(LineWatch& watch, std::initializer_list<Event> events, double seconds)
{
    std::vector<Event> with_reminder(events);
    with_reminder.push_back(Event::EndReminder);
    while (true) {
        const Event found = watch.await(with_reminder, seconds);
        if (found != Event::EndReminder)
            return found;
        watch.type(keys_text(Keys::EndEnter, ""));
    }
}
