// The installer's walk on the board's line: the slot question answered (again, when its Enter was
// lost), Ctrl-C held back while the board still asks, and the walk judged by the board's words once
// it ends.
#include <string>

#include "imgtool/command.h"
#include "imgtool/send/board_texts.h"
#include "imgtool/send/boot_signs.h"
#include "imgtool/send/conversation.h"
#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/installer_verdict.h"
#include "imgtool/send/send_limits.h"
#include "imgtool/send/stop_signals.h"

namespace {

// What follows a "Booting image" line that shows the board started again
constexpr int kRestartLineMs = 300;
// The answer is typed again at most this often while the question stands
constexpr int kSlotAnswerTries = 3;

std::optional<int> slot_asked(const SendOptions& options)
{
    return options.boot ? std::nullopt : options.slot;
}

// The answer typed until the line editor ends its line: it echoes a line feed for the Enter.  A
// question still standing took the first answer's digit and lost its Enter; the installer reads the
// line's first character, so the digit typed again changes nothing.
std::optional<BoardResult> answer_slot(LineWatch& watch, const SendOptions& options)
{
    watch.set_phase(Phase::SlotQuestion);
    watch.note(options.boot ? "answering Enter: boot it at once"
                            : "answering " + std::to_string(options.slot.value_or(1)));
    watch.type(keys_text(Keys::SlotAnswer, options.boot ? "" : std::to_string(options.slot.value_or(1))));
    for (int tries = 1;; ++tries) {
        const Event echoed = watch.await({Event::LineEnd}, limit::SLOT_ANSWER_ECHO);
        if (echoed == Event::LineEnd)
            break;
        // The answer is on its way: a run that leaves now leaves the board installing
        if (echoed == Event::Stopped)
            return watch.carry_out(decide(Phase::Installing, watch.stop()));
        if (echoed != Event::Silence || tries == kSlotAnswerTries)
            return watch.carry_out(decide(Phase::Installing, echoed));
        watch.carry_out(decide(Phase::SlotQuestion, Event::Silence));
    }
    watch.set_phase(Phase::Installing);
    return std::nullopt;
}

}  // namespace

BoardResult follow_install(LineWatch& watch, std::span<const PlannedRecord> plan, const SendOptions& options)
{
    // Leaving now could strand the board at its slot question, which follows the Enter of the switch
    // back at once: the first Ctrl-C is only noted, from that Enter on
    watch.set_interrupt_limit(2, decide(Phase::Installing, Stop::CtrlC).said);
    watch.set_slot_answer(options.boot ? "" : std::to_string(options.slot.value_or(1)));
    const size_t returned = watch.mark();
    watch.set_phase(Phase::Installing);
    const Event extracting = await_answering_reminder(watch, {Event::Extracting, Event::Menu}, limit::PROMPT);
    if (extracting == Event::Menu)
        return watch.fail(EXIT_FAILED, empty_return_cause(watch.since(returned)));
    if (extracting != Event::Extracting)
        return end_unplanned(watch, extracting, phrase::WALK_NOT_ENDED);
    const size_t start = watch.mark();
    while (true) {
        const Event found =
            watch.await({Event::SlotQuestion, Event::Menu, Event::ReadyToBoot, Event::BootingSlot},
                        limit::INSTALL_SILENCE, true);
        if (found == Event::SlotQuestion) {
            if (auto failure = answer_slot(watch, options))
                return *failure;
            continue;
        }
        if (found == Event::BootingSlot)
            watch.settle(kRestartLineMs);
        const bool walk_ended =
            found == Event::Menu || found == Event::ReadyToBoot || found == Event::BootingSlot;
        if (!walk_ended && !restart_sign(watch.since(start)))
            return end_unplanned(watch, found, phrase::WALK_NOT_ENDED);
        const std::string text = watch.seen().substr(start, watch.mark() - start);
        const InstallVerdict verdict =
            judge_installer(!walk_ended || found == Event::BootingSlot ? watch.since(start) : text, plan,
                            slot_asked(options));
        if (!verdict.installed)
            return watch.fail(EXIT_FAILED, verdict.text);
        BoardResult result{EXIT_OK, "installed: " + verdict.text};
        watch.set_phase(Phase::BootingResult);
        if (found == Event::ReadyToBoot)
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
