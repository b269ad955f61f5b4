#include "imgtool/send/session.h"

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <string_view>

#include "imgtool/command.h"
#include "imgtool/send/serial_line.h"
#include "imgtool/send/xmodem_send.h"

std::atomic<int> operator_interrupts{0};

namespace {

using Clock = std::chrono::steady_clock;

// The board's words this conversation turns on
constexpr std::string_view kMenuPrompt = "Option? : ";
constexpr std::string_view kRecoveryQuestion =
    "Would you like to enter recovery mode to download a new image? y/N: ";
constexpr std::string_view kLaunching = "Uncompressing application image....";
constexpr std::string_view kSpeedRequest = "Change the baud rate to ";
constexpr std::string_view kSpeedRequestEnd = " bps and hit the <ENTER> key";
constexpr std::string_view kBeforeDownload = "before initiating the download.";
constexpr std::string_view kPortFailure = "Can't open serial port!";
constexpr std::string_view kStartReminder =
    "Waiting for the <Enter> key to be hit before the download can start";
constexpr std::string_view kSpeedBack = "Change the baud rate back to ";
constexpr std::string_view kSpeedBackEnd = " bps, hit the <ENTER> key";
constexpr std::string_view kEndReminder = "Waiting for the <ENTER> key to be hit...";
constexpr std::string_view kExtracting = "Extracting images ... Do *NOT* power cycle the switch.";
constexpr std::string_view kSlotQuestion = "Install image as image 1 or 2 (hit return to just boot image): ";
constexpr std::string_view kReadyToBoot = "Image ready to boot...";
constexpr std::string_view kBooting = "Booting image '";
constexpr std::string_view kRescueEntered = "Entering Rescue Mode.";

// A board that already sits at its menu prints nothing: after this long without a byte, the tool
// types a y, which the menu answers with its prompt and the recovery question takes as yes
constexpr double kQuietBeforePoke = 3.0;
constexpr double kPokeInterval = 5.0;
// The board drains, flushes and switches its port after asking; a key sent sooner is lost
constexpr int kSwitchDelayMs = 300;
// A prompt without a line end is shown once the board has paused this long
constexpr double kPromptPause = 0.5;
// The installer prints a dot for every erase block it writes; a board silent this long is gone
constexpr double kInstallSilence = 60.0;
constexpr double kPromptWait = 20.0;
// The receiver gives a transfer up after three silent rounds of about seven seconds
constexpr double kGiveUpWait = 60.0;
constexpr double kBootWait = 120.0;
// What of the launch is shown: its first lines, up to the first pause
constexpr double kLaunchQuiet = 2.0;
constexpr size_t kLaunchLines = 3;

constexpr int kTimeout = -1;
constexpr int kLost = -2;
constexpr int kInterrupted = -3;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Banner {
    std::string_view line;
    const char* type;
};
constexpr Banner kBanners[] = {
    {"**** BOOT CODE ****", "bootcode"},
    {"**** KERNEL ****", "kernel"},
    {"**** ROOTFILESYSTEM ****", "rootfs"},
    {"**** APPLICATION ****", "application"},
};

bool starts_with(std::string_view text, std::string_view start)
{
    return text.substr(0, start.size()) == start;
}
bool ends_with(std::string_view text, std::string_view end)
{
    return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// A line of the installer that says a record was not installed.
bool is_install_failure(std::string_view line)
{
    return starts_with(line, "Bad crc for ") ||
           line.find(" is too big for flash") != std::string_view::npos ||
           ends_with(line, " updated failed") || starts_with(line, "Failed to allocate buffer") ||
           starts_with(line, "Image unpack failed") ||
           line.find("written but not selected") != std::string_view::npos;
}

std::vector<std::string> lines_of(std::string_view text)
{
    std::vector<std::string> lines;
    std::string line;
    for (char c : text) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += c;
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

class BoardSession : public xmodem::TransferEvents {
public:
    BoardSession(size_t index, Screen& screen, const std::string& log_path, std::span<const uint8_t> download,
                 const std::vector<PlannedRecord>& plan, const SendOptions& options)
        : screen_(screen), index_(index), console_(screen, index, log_path), download_(download), plan_(plan),
          options_(options), progress_(download.size())
    {}

    BoardResult run(const std::string& line_path)
    {
        if (auto failure = SerialLine::open(line_path, BOARD_CONSOLE_SPEED, line_))
            return fail(EXIT_NO_BOARD, no_line_text(*failure));
        if (console_.log_failed())
            console_.note("cannot write the transcript; going on without it");
        BoardResult result = serve();
        console_.pause();
        screen_.end_progress(index_);
        line_.close();
        result.seconds = progress_.elapsed();
        result.rate = progress_.rate();
        return result;
    }

    void progress(uint64_t acknowledged, uint64_t) override
    {
        progress_.update(seconds_since(started_), acknowledged);
        screen_.progress(index_, progress_);
    }

    void console(std::span<const uint8_t> bytes) override
    {
        take(bytes);
        // The Enter that starts the transfer was lost: the board reminds, and gets another
        if (seen_.find(kStartReminder, reminder_mark_) != std::string::npos) {
            reminder_mark_ = seen_.size();
            line_.write(std::string("\r"));
        }
    }

    void resent(unsigned block, const std::string& reason) override
    {
        console_.note("block " + std::to_string(block) + " sent again (" + reason + ")");
    }

    bool interrupted() override
    {
        pause_if_quiet();
        return operator_interrupts.load() > 0;
    }

private:
    BoardResult serve()
    {
        if (auto failure = find_board())
            return *failure;
        if (auto failure = start_download())
            return *failure;
        console_.note("sending " + std::to_string(download_.size()) + " bytes");
        reminder_mark_ = seen_.size();
        const xmodem::Result sent = xmodem::send(line_, download_, *this, xmodem::Timing{});
        screen_.end_progress(index_);
        if (sent.outcome == xmodem::Outcome::LineLost)
            return fail(1, "the line went away during the transfer; nothing was installed");
        if (sent.outcome == xmodem::Outcome::NoReceiver)
            return fail(1, "the board never asked for the file; power-cycle it and try again");
        if (sent.outcome != xmodem::Outcome::Sent)
            return end_given_up_transfer(sent);
        console_.note("sent in " + duration_text(progress_.elapsed()) + " (" + rate_text(progress_.rate()) +
                      ")" +
                      (sent.resends == 0   ? ""
                       : sent.resends == 1 ? ", 1 block sent again"
                                           : ", " + std::to_string(sent.resends) + " blocks sent again"));
        if (auto failure = switch_back())
            return *failure;
        return install();
    }

    // The board at its rescue menu, or why not.
    std::optional<BoardResult> find_board()
    {
        const Clock::time_point deadline = Clock::now() + std::chrono::seconds(options_.wait_seconds);
        console_.note("waiting up to " + std::to_string(options_.wait_seconds) +
                      " s for the board's rescue menu (power the board on now if it is off)");
        Clock::time_point poked = Clock::now() - std::chrono::seconds(60);
        while (true) {
            const int found = await({kMenuPrompt, kRecoveryQuestion, kLaunching}, 1.0);
            if (found == 0)
                return std::nullopt;
            if (found == 1) {
                console_.note("the board asks whether to enter recovery mode: answering y");
                line_.write(std::string("y"));
                continue;
            }
            if (found == 2)
                return fail(
                    1, "the board is booting its application, not the rescue menu: set diagnostics=rescue in "
                       "the boot loader's environment and power-cycle it, or power-cycle it and answer y to "
                       "the recovery question");
            if (found == kLost)
                return fail(3, "no board answered: the line went away");
            if (found == kInterrupted)
                return fail(1, "cancelled by the operator before the transfer");
            if (Clock::now() >= deadline)
                return no_menu();
            if (seconds_since(last_byte_at_) >= kQuietBeforePoke && seconds_since(poked) >= kPokeInterval) {
                poked = Clock::now();
                pokes_++;
                line_.write(std::string("y"));
            }
        }
    }

    BoardResult no_menu()
    {
        const std::string wait = std::to_string(options_.wait_seconds) + " s";
        if (seen_.empty())
            return fail(3, "no board answered within " + wait +
                               ": nothing came back on the line; check the cable and "
                               "the adapter, and that the board is powered");
        if (seen_ == std::string(pokes_, 'y'))
            return fail(3, "no board answered within " + wait +
                               ": only the keys typed came back (a loopback, not "
                               "a board)");
        const std::vector<std::string> lines = lines_of(seen_);
        return fail(1, "the board did not show the rescue menu within " + wait + " (its last line: \"" +
                           (lines.empty() ? "" : lines.back()) +
                           "\"): set diagnostics=rescue in the boot loader's "
                           "environment and power-cycle it");
    }

    // X at the menu, the board's speed for the transfer, and the Enter that starts it.
    std::optional<BoardResult> start_download()
    {
        console_.note("pressing X");
        line_.write(std::string("x"));
        const int found = await({kSpeedRequest, kPortFailure}, kPromptWait);
        if (found == 1)
            return fail(1, "the board reported: " + std::string(kPortFailure) +
                               " (it cannot open its download port)");
        if (found != 0)
            return fail(1, "the board did not start its download after X" + reason(found));
        const std::optional<unsigned> speed = read_speed(kSpeedRequestEnd);
        if (!speed)
            return fail(1, "the board asked for a speed this tool cannot read or set");
        if (const int rest = await({kBeforeDownload}, kPromptWait); rest != 0)
            return fail(1, "the board did not finish asking for the switch" + reason(rest));
        settle(kSwitchDelayMs);
        if (!line_.set_speed(*speed))
            return fail(1, "cannot set the line to " + std::to_string(*speed) + " bit/s");
        console_.note("switched to " + std::to_string(*speed) + " bit/s, hitting Enter");
        line_.write(std::string("\r"));
        return std::nullopt;
    }

    // The speed the board names, followed by the given end of its request.
    std::optional<unsigned> read_speed(std::string_view end)
    {
        const size_t digits = mark_;
        if (await({end}, kPromptWait) != 0)
            return std::nullopt;
        const std::string number = seen_.substr(digits, mark_ - end.size() - digits);
        if (number.empty() || number.size() > 7 ||
            number.find_first_not_of("0123456789") != std::string::npos)
            return std::nullopt;
        const unsigned speed = static_cast<unsigned>(std::stoul(number));
        return termios_speed(speed) ? std::optional(speed) : std::nullopt;
    }

    // After the transfer the board asks for the console's speed again and waits for a line feed.
    std::optional<BoardResult> switch_back()
    {
        const int found = await({kSpeedBack}, kGiveUpWait);
        if (found != 0)
            return fail(1, "the board did not ask to switch back after the transfer" + reason(found));
        const std::optional<unsigned> speed = read_speed(kSpeedBackEnd);
        settle(kSwitchDelayMs);
        if (!speed || !line_.set_speed(*speed))
            return fail(1, "cannot switch back to the speed the board asks for");
        console_.note("switched back to " + std::to_string(*speed) + " bit/s, hitting Enter");
        line_.write(std::string("\n"));
        return std::nullopt;
    }

    // The transfer ended without the file: the board gives up (at once, or after its silent rounds
    // when the tool stopped), asks to switch back, and shows its menu again.
    BoardResult end_given_up_transfer(const xmodem::Result& sent)
    {
        const bool by_operator = sent.outcome == xmodem::Outcome::Interrupted;
        if (by_operator) {
            console_.note(sent.acknowledged == 0
                              ? "cancelling before the first block: the board ends its wait"
                              : "cancelling: the board gives the transfer up after about 20 "
                                "seconds without blocks (Ctrl-C again leaves at once)");
            interrupt_limit_ = 2;
        }
        const std::string what = by_operator ? "cancelled by the operator" : xmodem::describe(sent.outcome);
        if (auto failure = switch_back())
            return fail(1, what + ", but " + failure->summary.substr(std::string("failed: ").size()));
        const int found = await_answering_reminder({kMenuPrompt}, kPromptWait);
        if (found != 0)
            return fail(1, what + "; nothing was installed, but its menu did not come back" + reason(found));
        return fail(1, what + "; nothing was installed, and its menu is back");
    }

    BoardResult install()
    {
        if (const int found = await_answering_reminder({kExtracting, kMenuPrompt}, kPromptWait); found != 0)
            return found == 1 ? fail(1, "the board installed nothing: the file arrived empty")
                              : went_away(found);
        const size_t install_start = mark_;
        while (true) {
            const int found = await({kSlotQuestion, kMenuPrompt, kReadyToBoot}, kInstallSilence, true);
            if (found < 0)
                return went_away(found);
            if (found == 0) {
                answer_slot();
                continue;
            }
            const bool booted = found == 2;
            const std::string installer_text = seen_.substr(install_start, mark_ - install_start);
            std::optional<BoardResult> outcome = judge_install(installer_text, booted);
            if (outcome)
                return *outcome;
            BoardResult result{0, "installed: " + installed_summary(installer_text, booted)};
            if (booted)
                return watch_launch(result);
            return options_.verify ? verify_next_boot(result) : result;
        }
    }

    void answer_slot()
    {
        const std::string answer = options_.slot ? std::to_string(*options_.slot) : "";
        console_.note(options_.slot ? "answering " + answer : "answering Enter: boot it at once");
        line_.write(answer + "\r");
    }

    // A failure line of the installer, or fewer records handled than the download holds.
    std::optional<BoardResult> judge_install(const std::string& text, bool booted)
    {
        size_t handled = 0;
        for (const std::string& line : lines_of(text)) {
            if (is_install_failure(line))
                return fail(1, "the board reported: " + line);
            for (const Banner& banner : kBanners)
                handled += line == banner.line ? 1 : 0;
        }
        size_t planned = 0;
        for (const PlannedRecord& record : plan_)
            planned += record.installed ? 1 : 0;
        // A record booted at once ends the walk: the records behind it are never looked at
        if (!booted && handled < planned)
            return fail(1, "the board handled " + std::to_string(handled) + " of the " +
                               std::to_string(planned) + " records it was sent");
        return std::nullopt;
    }

    std::string installed_summary(const std::string& text, bool booted) const
    {
        std::string summary;
        for (const std::string& line : lines_of(text)) {
            for (const Banner& banner : kBanners) {
                if (line != banner.line)
                    continue;
                std::string what = banner.type;
                if (what == "application")
                    what +=
                        booted ? " booted at once" : " in slot " + std::to_string(options_.slot.value_or(0));
                summary += (summary.empty() ? "" : ", ") + what;
            }
        }
        return summary;
    }

    // R, then the next boot: the menu again (rescue mode still set) is left with E, and the slot
    // the board boots must be the one just written.
    BoardResult verify_next_boot(BoardResult result)
    {
        console_.note("pressing R: checking the next boot");
        line_.write(std::string("r"));
        int found = await({kBooting, kRescueEntered}, kBootWait + options_.wait_seconds);
        if (found == 1) {
            if (await({kMenuPrompt}, kPromptWait) == 0) {
                console_.note("rescue mode came back (diagnostics=rescue is still set): pressing E");
                line_.write(std::string("e"));
            }
            console_.note("to stop at the menu no more, clear the variable at the boot loader's prompt: "
                          "setenv diagnostics; saveenv");
            result.summary += "; diagnostics=rescue still set";
            found = await({kBooting}, kBootWait);
        }
        if (found != 0)
            return fail(1, "installed, but the board did not boot after the reset" + reason(found));
        if (await({"'"}, kPromptWait) != 0)
            return fail(1, "installed, but the board's boot line was cut short");
        const std::string slot = seen_.substr(mark_ - 2, 1);
        const std::string wanted = std::to_string(options_.slot.value_or(0));
        if (options_.slot && slot != wanted)
            return fail(1, "installed, but the board booted slot " + slot + ", not slot " + wanted);
        result.summary += "; booted slot " + slot;
        return watch_launch(result);
    }

    // The launch that follows: the first line after the launcher hands over is the application's.
    BoardResult watch_launch(BoardResult result)
    {
        const size_t boot_start = mark_;
        const int found = await({kLaunching}, kBootWait);
        const std::vector<std::string> before = lines_of(seen_.substr(boot_start, mark_ - boot_start));
        for (const std::string& line : before) {
            if (line.find("CRC failed") != std::string::npos ||
                line.find("invalid header") != std::string::npos || line.find("failed.") != std::string::npos)
                return fail(1, "the board reported: " + line);
        }
        if (found != 0)
            return fail(1, result.summary + ", but the application did not start" + reason(found));
        // The launch's own lines, as many as come before the board pauses
        if (await({"\n"}, kPromptWait) == 0) {
            const size_t launch_start = mark_;
            settle_until_quiet(kLaunchQuiet, kLaunchLines);
            const std::vector<std::string> printed = lines_of(seen_.substr(launch_start));
            std::string shown;
            for (size_t i = 0; i < printed.size() && i < kLaunchLines; ++i)
                shown += (i == 0 ? "" : " / ") + printed[i];
            console_.note("the launch printed: " + shown);
        }
        return result;
    }

    BoardResult went_away(int found)
    {
        if (found == kInterrupted)
            return fail(1, "stopped watching at the operator's Ctrl-C: the board goes on installing; do not "
                           "power-cycle it until its menu shows");
        return fail(
            1, "the board went away during the install (" +
                   std::string(found == kLost ? "the line went away" : "silent for 60 s") +
                   "): do not trust its flash until a download completes; power it on and download again");
    }

    // Waits like await, typing the line feed again whenever the board reminds that it waits for it.
    int await_answering_reminder(std::initializer_list<std::string_view> texts, double seconds)
    {
        std::vector<std::string_view> with_reminder(texts);
        with_reminder.push_back(kEndReminder);
        while (true) {
            const int found = await(with_reminder, seconds);
            if (found != static_cast<int>(texts.size()))
                return found;
            line_.write(std::string("\n"));
        }
    }

    // The first of the texts to appear after the mark, the mark moved past it; kTimeout after
    // seconds (of silence, with idle), kLost, or kInterrupted.
    int await(const std::vector<std::string_view>& texts, double seconds, bool idle = false)
    {
        const Clock::time_point start = Clock::now();
        while (true) {
            size_t first = std::string::npos;
            int which = kTimeout;
            for (size_t i = 0; i < texts.size(); ++i) {
                const size_t at = seen_.find(texts[i], mark_);
                if (at != std::string::npos && (first == std::string::npos || at < first)) {
                    first = at;
                    which = static_cast<int>(i);
                }
            }
            if (which >= 0) {
                mark_ = first + texts[static_cast<size_t>(which)].size();
                return which;
            }
            if (operator_interrupts.load() >= interrupt_limit_)
                return kInterrupted;
            if (seconds_since(idle ? std::max(start, last_byte_at_) : start) >= seconds)
                return kTimeout;
            if (!pump(100))
                return kLost;
        }
    }
    int await(std::initializer_list<std::string_view> texts, double seconds, bool idle = false)
    {
        return await(std::vector<std::string_view>(texts), seconds, idle);
    }

    std::string reason(int found) const
    {
        if (found == kLost)
            return ": the line went away";
        if (found == kInterrupted)
            return ": cancelled by the operator";
        return " (no answer)";
    }

    // Reads the line until it has been quiet for the given time or holds that many more lines.
    void settle_until_quiet(double quiet_seconds, size_t lines)
    {
        const size_t start = seen_.size();
        while (seconds_since(last_byte_at_) < quiet_seconds &&
               static_cast<size_t>(std::count(seen_.begin() + static_cast<long>(start), seen_.end(), '\n')) <
                   lines) {
            if (!pump(100))
                return;
        }
    }

    // Reads the line for the given time, keeping what comes.
    void settle(int milliseconds)
    {
        const Clock::time_point until = Clock::now() + std::chrono::milliseconds(milliseconds);
        while (Clock::now() < until && pump(10)) {
        }
    }

    bool pump(int wait_ms)
    {
        uint8_t bytes[256];
        const long got = line_.read(bytes, wait_ms);
        if (got < 0)
            return false;
        take(std::span(bytes, static_cast<size_t>(got)));
        pause_if_quiet();
        return true;
    }

    void take(std::span<const uint8_t> bytes)
    {
        if (bytes.empty())
            return;
        seen_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        console_.take(bytes.data(), bytes.size());
        last_byte_at_ = Clock::now();
    }

    void pause_if_quiet()
    {
        if (seconds_since(last_byte_at_) >= kPromptPause)
            console_.pause();
    }

    BoardResult fail(int status, const std::string& text)
    {
        console_.pause();
        console_.note(text);
        return {status, "failed: " + text};
    }

    Screen& screen_;
    size_t index_;
    ConsoleLines console_;
    std::span<const uint8_t> download_;
    const std::vector<PlannedRecord>& plan_;
    const SendOptions& options_;
    TransferProgress progress_;
    SerialLine line_;
    Clock::time_point started_ = Clock::now();
    Clock::time_point last_byte_at_ = Clock::now();
    // Everything the board printed, and where the next search starts
    std::string seen_;
    size_t mark_ = 0;
    size_t reminder_mark_ = 0;
    size_t pokes_ = 0;
    int interrupt_limit_ = 1;
};

}  // namespace

BoardResult serve_board(const std::string& line_path, size_t index, Screen& screen,
                        const std::string& log_path, std::span<const uint8_t> download,
                        const std::vector<PlannedRecord>& plan, const SendOptions& options)
{
    BoardSession session(index, screen, log_path, download, plan, options);
    return session.run(line_path);
}
