// The board's next boot after an install, and the launch of what it boots.
#include <string>
#include <vector>

#include "imgtool/command.h"
#include "imgtool/send/board_texts.h"
#include "imgtool/send/boot_signs.h"
#include "imgtool/send/conversation.h"
#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/send_limits.h"
#include "imgtool/send/stop_signals.h"

namespace {

// What of a launch is shown: its first lines, up to the first pause
constexpr size_t kLaunchLines = 3;

// The launch, the recovery question, or the end of a boot that found no slot to launch.
Event await_launch(LineWatch& watch)
{
    return watch.await({Event::Launching, Event::RecoveryQuestion, Event::BootFailed}, limit::BOOT);
}

// Why the launch was not seen, with the result of the install before it.
BoardResult no_launch(LineWatch& watch, const BoardResult& installed, Event found)
{
    const std::string done = installed.summary.substr(std::string("installed: ").size());
    if (found == Event::Stopped)
        return watch.fail(EXIT_FAILED, std::string(stop_phrase()) + " after the board installed " + done +
                                           std::string(phase_row(Phase::BootingResult).left));
    const Decision decision =
        decide(Phase::BootingResult, found == Event::BootFailed ? Event::Silence : found);
    return watch.fail(EXIT_FAILED, done + ", but " + decision.said);
}

// The launch's own lines, as many as come before the board pauses.
void show_launch(LineWatch& watch)
{
    if (watch.await({Event::LineEnd}, limit::PROMPT) != Event::LineEnd)
        return;
    const size_t start = watch.mark();
    watch.settle_until_quiet(limit::LAUNCH_QUIET, kLaunchLines);
    const std::vector<std::string> printed = lines_of(watch.since(start));
    std::string shown;
    for (size_t i = 0; i < printed.size() && i < kLaunchLines; ++i)
        shown += (i == 0 ? "" : " / ") + printed[i];
    watch.note("the launch printed: " + shown);
}

}  // namespace

BoardResult verify_next_boot(LineWatch& watch, BoardResult installed, std::optional<int> slot_written)
{
    watch.note("pressing R: checking the next boot");
    const size_t start = watch.seen().size();
    watch.type("r");
    const Event boot = watch.await({Event::BootingSlot, Event::RescueEntered}, limit::BOOT);
    if (boot == Event::RescueEntered) {
        if (watch.await({Event::Menu}, limit::PROMPT) == Event::Menu) {
            watch.note("rescue mode came back (diagnostics=rescue is still set): pressing E");
            watch.type("e");
        }
        watch.note("to stop at the menu no more, clear the variable at the boot loader's prompt: "
                   "setenv diagnostics; saveenv");
        installed.summary += "; " + std::string(phrase::RESCUE_STILL_SET);
    }
    const bool booting = boot == Event::BootingSlot || boot == Event::RescueEntered;
    const Event found = booting ? await_launch(watch) : boot;
    const BootVerdict verdict = judge_boot(watch.since(start), slot_written);
    if (!verdict.ok)
        return watch.fail(EXIT_FAILED, "installed, but " + verdict.text);
    if (found != Event::Launching)
        return no_launch(watch, installed, found);
    installed.summary += "; " + verdict.text;
    show_launch(watch);
    return installed;
}

BoardResult watch_launch(LineWatch& watch, BoardResult installed)
{
    const Event found = await_launch(watch);
    if (found == Event::RecoveryQuestion)
        return watch.fail(EXIT_FAILED,
                          installed.summary.substr(std::string("installed: ").size()) + ", but " +
                              std::string(phrase::ASKS_RECOVERY) +
                              " (the application looks made for other hardware): it waits for y, "
                              "which shows the rescue menu, or any other key, which starts it anyway");
    if (found != Event::Launching)
        return no_launch(watch, installed, found);
    show_launch(watch);
    return installed;
}
