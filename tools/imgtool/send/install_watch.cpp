// The installer's walk on the board's line: the slot question answered, Ctrl-C held back while
// the board still asks, and the walk judged by the board's words once it ends.
#include <string>

#include "imgtool/command.h"
#include "imgtool/send/board_texts.h"
#include "imgtool/send/boot_signs.h"
#include "imgtool/send/conversation.h"
#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/installer_verdict.h"
#include "imgtool/send/stop_signals.h"

namespace {

// The installer prints a dot for every erase block it writes; a board silent this long is gone
constexpr double kInstallSilence = 60.0;
// What follows a "Booting image" line that shows the board started again
constexpr int kRestartLineMs = 300;

std::optional<int> slot_asked(const SendOptions& options)
{
    return options.boot ? std::nullopt : options.slot;
}

void answer_slot(LineWatch& watch, const SendOptions& options)
{
    const std::string answer = options.boot ? "" : std::to_string(options.slot.value_or(1));
    watch.note(options.boot ? "answering Enter: boot it at once" : "answering " + answer);
    watch.type(answer + "\r");
}

// What the board waits for when the operator leaves before its walk ends.
std::string left_waiting(const LineWatch& watch)
{
    if (watch.seen().find(board_text::SLOT_QUESTION, watch.mark()) != std::string::npos)
        return "the board waits for the answer to its slot question: type 1 or 2 and Enter (Enter alone boots "
               "the application once without writing it)";
    return "the board goes on installing: leave it powered until its menu shows";
}

// Left before the walk ended: at the operator's second Ctrl-C, or at once for a signal.
BoardResult left_early(LineWatch& watch)
{
    return watch.fail(EXIT_FAILED, std::string(leaving_at_once() ? phrase::STOPPED_BY_SIGNAL
                                                                 : phrase::LEFT_AT_SECOND_CTRL_C) +
                                       ": " + left_waiting(watch));
}

BoardResult went_away(LineWatch& watch, int found)
{
    return watch.fail(EXIT_FAILED,
                      std::string(phrase::WENT_AWAY) + " (" +
                          (found == LineWatch::LOST ? "the line went away" : "silent for 60 s") +
                          "): do not trust its flash until a download completes; power it on and "
                          "download again");
}

}  // namespace

BoardResult follow_install(LineWatch& watch, std::span<const PlannedRecord> plan, const SendOptions& options)
{
    using namespace board_text;
    // Leaving now could strand the board at its slot question, which follows the Enter of the switch
    // back at once: the first Ctrl-C is only noted, from that Enter on
    watch.set_interrupt_limit(2, "Ctrl-C: the board is installing, and this tool goes on answering it until "
                                 "its walk ends (Ctrl-C again leaves at once)");
    const size_t switched_back = watch.mark();
    const int extracting = await_answering_reminder(watch, {EXTRACTING, MENU_PROMPT}, PROMPT_WAIT);
    if (extracting == 1)
        return watch.fail(EXIT_FAILED, empty_return_cause(watch.since(switched_back)));
    if (extracting == LineWatch::INTERRUPTED)
        return left_early(watch);
    if (extracting != 0)
        return went_away(watch, extracting);
    const size_t start = watch.mark();
    while (true) {
        const int found =
            watch.await({SLOT_QUESTION, MENU_PROMPT, READY_TO_BOOT, BOOTING_SLOT}, kInstallSilence, true);
        if (found == 0) {
            answer_slot(watch, options);
            continue;
        }
        if (found == 3)
            watch.settle(kRestartLineMs);
        const std::string text = watch.seen().substr(start, watch.mark() - start);
        if (found < 0 && !restart_sign(watch.since(start))) {
            if (found == LineWatch::INTERRUPTED)
                return left_early(watch);
            return went_away(watch, found);
        }
        const InstallVerdict verdict =
            judge_installer(found < 0 || found == 3 ? watch.since(start) : text, plan, slot_asked(options));
        if (!verdict.installed)
            return watch.fail(EXIT_FAILED, verdict.text);
        BoardResult result{EXIT_OK, "installed: " + verdict.text};
        if (found == 2)
            return watch_launch(watch, result);
        if (!options.verify)
            return result;
        if (operator_interrupts.load() > 0)
            return watch.fail(EXIT_FAILED, std::string(stop_phrase()) + " after the board " + result.summary +
                                               "; its next boot was not checked");
        const bool slot_written =
            !options.boot && options.slot && verdict.text.find("application in slot") != std::string::npos;
        return verify_next_boot(watch, result, slot_written ? options.slot : std::nullopt);
    }
}
