// Finding the board at its menu and switching its line for the transfer and back.
#include <string>
#include <vector>

#include "imgtool/command.h"
#include "imgtool/send/board_texts.h"
#include "imgtool/send/boot_signs.h"
#include "imgtool/send/conversation.h"
#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/stop_signals.h"

namespace {

// A board idle at its menu prints nothing; a y brings its prompt back, and the recovery question
// takes it as yes.  But a board that has just been powered on may be testing its memory in silence,
// and its boot loader would find the key waiting and stop its countdown: the key goes only to a line
// silent since it was opened for longer than such a test lasts, and only once.
constexpr double kQuietBeforePoke = 8.0;
// The board drains, flushes and switches its port after asking; a key sent sooner is lost
constexpr int kSwitchDelayMs = 300;

std::string phrase_text(std::string_view phrase) { return std::string(phrase); }

BoardResult no_menu(LineWatch& watch, int wait_seconds)
{
    const std::string wait = std::to_string(wait_seconds) + " s";
    if (watch.seen().empty())
        return watch.fail(EXIT_NO_BOARD,
                          phrase_text(phrase::NO_BOARD) + " within " + wait +
                              ": nothing came back on the line; check the cable and the adapter, "
                              "and that the board is powered");
    if (watch.seen() == watch.typed()) {
        // Whatever prompt echoed them must not keep them on its command line
        watch.type(std::string(watch.typed().size(), '\b'));
        return watch.fail(EXIT_NO_BOARD, phrase_text(phrase::NO_BOARD) + " within " + wait +
                                             ": only the keys typed came back (" +
                                             phrase_text(phrase::LOOPBACK) + "; they were erased)");
    }
    const std::vector<std::string> lines = lines_of(watch.seen());
    return watch.fail(EXIT_FAILED, phrase_text(phrase::NEVER_SHOWED_MENU) + " within " + wait +
                                       " (its last line: \"" + (lines.empty() ? "" : lines.back()) +
                                       "\"): set diagnostics=rescue at the boot loader's prompt (setenv "
                                       "diagnostics rescue; saveenv) and power-cycle it");
}

// The speed the board names, followed by the given end of its request.
std::optional<unsigned> read_speed(LineWatch& watch, std::string_view end)
{
    const size_t digits = watch.mark();
    if (watch.await({end}, PROMPT_WAIT) != 0)
        return std::nullopt;
    const std::string number = watch.seen().substr(digits, watch.mark() - end.size() - digits);
    if (number.empty() || number.size() > 7 || number.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    const unsigned speed = static_cast<unsigned>(std::stoul(number));
    return termios_speed(speed) ? std::optional(speed) : std::nullopt;
}

}  // namespace

std::optional<BoardResult> find_board(LineWatch& watch, int wait_seconds)
{
    using namespace board_text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(wait_seconds);
    watch.note("waiting up to " + std::to_string(wait_seconds) +
               " s for the board's rescue menu (power the board on now if it is off)");
    bool poked = false;
    bool countdown_noted = false;
    while (true) {
        const int found =
            watch.await({MENU_PROMPT, RECOVERY_QUESTION, LAUNCHING, START_REMINDER, END_REMINDER}, 1.0);
        if (found == 0)
            return std::nullopt;
        if (found == 1) {
            watch.note("the board asks whether to enter recovery mode: answering y");
            watch.type("y");
            continue;
        }
        if (found == 2)
            return watch.fail(EXIT_FAILED,
                              phrase_text(phrase::BOOTING_APPLICATION) +
                                  ": set diagnostics=rescue in the boot loader's environment and "
                                  "power-cycle it, or power-cycle it and answer y to the recovery "
                                  "question");
        if (found == 3)
            return watch.fail(EXIT_FAILED,
                              phrase_text(phrase::WAITS_TO_START) +
                                  " asked for before this run: power-cycle the board (nothing has "
                                  "been written) and run the command again");
        if (found == 4)
            return watch.fail(EXIT_FAILED,
                              phrase_text(phrase::WAITS_TO_INSTALL) +
                                  " received before this run, which this tool did not send: do "
                                  "not press Enter (it would install that file); power-cycle the "
                                  "board (nothing of it is installed yet) and run the command again");
        if (found == LineWatch::LOST)
            return watch.fail(EXIT_NO_BOARD, phrase_text(phrase::NO_BOARD) + ": the line went away");
        if (found == LineWatch::INTERRUPTED)
            return watch.fail(EXIT_FAILED,
                              phrase_text(stop_phrase()) + " before the transfer: nothing was sent");
        const LoaderState loader = loader_state(watch.seen());
        if (loader == LoaderState::AtPrompt)
            return watch.fail(EXIT_FAILED,
                              phrase_text(phrase::AT_LOADER_PROMPT) +
                                  ": type boot there to go on, or setenv diagnostics rescue; "
                                  "saveenv; boot for the rescue menu, then run the command again");
        if (loader == LoaderState::CountingDown && !countdown_noted) {
            countdown_noted = true;
            watch.note("the boot loader counts down: typing nothing, so that it boots on");
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return no_menu(watch, wait_seconds);
        if (!poked && watch.seen().empty() && watch.quiet_seconds() >= kQuietBeforePoke) {
            poked = true;
            watch.type("y");
        }
    }
}

std::optional<BoardResult> start_download(LineWatch& watch)
{
    using namespace board_text;
    watch.note("pressing X");
    watch.type("x");
    const int found = watch.await({SPEED_REQUEST, PORT_FAILURE}, PROMPT_WAIT);
    if (found == 1)
        return watch.fail(EXIT_FAILED, phrase_text(phrase::REPORTED) + " " + std::string(PORT_FAILURE) +
                                           " (it cannot open its download port)");
    if (found != 0)
        return watch.fail(EXIT_FAILED, phrase_text(phrase::NO_DOWNLOAD_AFTER_X) + await_failure(found));
    const std::optional<unsigned> speed = read_speed(watch, SPEED_REQUEST_END);
    if (!speed)
        return watch.fail(EXIT_FAILED, phrase_text(phrase::UNREADABLE_SPEED));
    if (const int rest = watch.await({BEFORE_DOWNLOAD}, PROMPT_WAIT); rest != 0)
        return watch.fail(EXIT_FAILED, phrase_text(phrase::NO_DOWNLOAD_AFTER_X) + await_failure(rest));
    watch.settle(kSwitchDelayMs);
    if (!watch.line().set_speed(*speed))
        return watch.fail(EXIT_FAILED,
                          phrase_text(phrase::CANNOT_SWITCH) + " (" + std::to_string(*speed) + " bit/s)");
    watch.note("switched to " + std::to_string(*speed) + " bit/s, hitting Enter");
    watch.type("\r");
    return std::nullopt;
}

std::optional<BoardResult> switch_back(LineWatch& watch)
{
    const int found = watch.await({board_text::SPEED_BACK}, GIVE_UP_WAIT);
    if (found != 0)
        return watch.fail(EXIT_FAILED, phrase_text(phrase::NO_SWITCH_BACK) + await_failure(found));
    const std::optional<unsigned> speed = read_speed(watch, board_text::SPEED_BACK_END);
    watch.settle(kSwitchDelayMs);
    if (!speed || !watch.line().set_speed(*speed))
        return watch.fail(EXIT_FAILED, phrase_text(phrase::CANNOT_SWITCH) + " after the transfer");
    watch.note("switched back to " + std::to_string(*speed) + " bit/s, hitting Enter");
    watch.type("\n");
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
    const int found = await_answering_reminder(watch, {board_text::MENU_PROMPT}, PROMPT_WAIT);
    if (found != 0)
        return watch.fail(EXIT_FAILED, what + "; nothing was installed, but " +
                                           phrase_text(phrase::MENU_NOT_BACK) + await_failure(found));
    return watch.fail(EXIT_FAILED, what + "; nothing was installed, and its menu is back");
}

int await_answering_reminder(LineWatch& watch, std::initializer_list<std::string_view> texts, double seconds)
{
    std::vector<std::string_view> with_reminder(texts);
    with_reminder.push_back(board_text::END_REMINDER);
    while (true) {
        const int found = watch.await(with_reminder, seconds);
        if (found != static_cast<int>(texts.size()))
            return found;
        watch.type("\n");
    }
}
