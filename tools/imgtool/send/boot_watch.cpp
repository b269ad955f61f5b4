// The board's next boot after an install, and the launch of what it boots.
#include <string>
#include <vector>

#include "imgtool/command.h"
#include "imgtool/send/board_texts.h"
#include "imgtool/send/boot_signs.h"
#include "imgtool/send/conversation.h"
#include "imgtool/send/failure_phrases.h"

namespace {

constexpr double kBootWait = 120.0;
// What of the launch is shown: its first lines, up to the first pause
constexpr double kLaunchQuiet = 2.0;
constexpr size_t kLaunchLines = 3;

// The launch, the recovery question, or the end of a boot that found no slot to launch.
int await_launch(LineWatch& watch)
{
    return watch.await({board_text::LAUNCHING, board_text::RECOVERY_QUESTION,
                        "Both image1 and image2 failed.", "No valid application image found."},
                       kBootWait);
}

// The launch's own lines, as many as come before the board pauses.
void show_launch(LineWatch& watch)
{
    if (watch.await({"\n"}, PROMPT_WAIT) != 0)
        return;
    const size_t start = watch.mark();
    watch.settle_until_quiet(kLaunchQuiet, kLaunchLines);
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
    const int boot = watch.await({board_text::BOOTING_SLOT, board_text::RESCUE_ENTERED}, kBootWait);
    if (boot == 1) {
        if (watch.await({board_text::MENU_PROMPT}, PROMPT_WAIT) == 0) {
            watch.note("rescue mode came back (diagnostics=rescue is still set): pressing E");
            watch.type("e");
        }
        watch.note("to stop at the menu no more, clear the variable at the boot loader's prompt: "
                   "setenv diagnostics; saveenv");
        installed.summary += "; " + std::string(phrase::RESCUE_STILL_SET);
    }
    const int found = boot < 0 ? boot : await_launch(watch);
    const BootVerdict verdict = judge_boot(watch.since(start), slot_written);
    if (!verdict.ok)
        return watch.fail(EXIT_FAILED, "installed, but " + verdict.text);
    if (found != 0)
        return watch.fail(EXIT_FAILED, "installed, but " + std::string(phrase::APPLICATION_DID_NOT_START) +
                                           await_failure(found));
    installed.summary += "; " + verdict.text;
    show_launch(watch);
    return installed;
}

BoardResult watch_launch(LineWatch& watch, BoardResult installed)
{
    const int found = await_launch(watch);
    if (found == 1)
        return watch.fail(EXIT_FAILED,
                          installed.summary.substr(std::string("installed: ").size()) + ", but " +
                              std::string(phrase::ASKS_RECOVERY) +
                              " (the application looks made for other hardware): it waits for y, "
                              "which shows the rescue menu, or any other key, which starts it anyway");
    if (found != 0)
        return watch.fail(EXIT_FAILED, installed.summary.substr(std::string("installed: ").size()) +
                                           ", but " + std::string(phrase::APPLICATION_DID_NOT_START) +
                                           await_failure(found));
    show_launch(watch);
    return installed;
}
