#include "imgtool/send/line_watch.h"

#include <algorithm>

#include "imgtool/send/line_events.h"
#include "imgtool/send/stop_signals.h"

namespace {

using Clock = std::chrono::steady_clock;

// A prompt without a line end is shown once the board has paused this long
constexpr double kPromptPause = 0.5;

double seconds_since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

Event LineWatch::await(std::span<const Event> wanted, double seconds, bool idle)
{
    const Clock::time_point start = Clock::now();
    while (true) {
        // A press the wait goes on through is said at once, also when what it waits for is there
        const int presses = operator_interrupts.load();
        if (presses > interrupts_noted_ && presses < interrupt_limit_) {
            interrupts_noted_ = presses;
            if (!interrupt_note_.empty())
                note(interrupt_note_);
        }
        if (const std::optional<FoundEvent> found = find_event(seen_, mark_, wanted)) {
            mark_ = found->end;
            return found->event;
        }
        if (presses >= interrupt_limit_)
            return Event::Stopped;
        if (seconds_since(idle ? std::max(start, last_byte_at_) : start) >= seconds)
            return Event::Silence;
        if (!pump(100))
            return Event::LineLost;
    }
}

Stop LineWatch::stop() const
{
    if (leaving_at_once())
        return Stop::Signal;
    return operator_interrupts.load() >= 2 ? Stop::SecondCtrlC : Stop::CtrlC;
}

void LineWatch::set_phase(Phase phase)
{
    if (phase == phase_)
        return;
    phase_ = phase;
    const PhaseRow& row = phase_row(phase);
    console_.record("board " + std::string(row.name) + " at " + std::to_string(row.speed) +
                    " bit/s: waits for " + std::string(row.waits_for) + "; the tool may type " +
                    std::string(row.may_type));
}

std::optional<BoardResult> LineWatch::carry_out(const Decision& decision)
{
    set_phase(decision.phase);
    if (decision.next == Next::End)
        return fail(decision.status, decision.said);
    if (!decision.said.empty())
        note(decision.said);
    const std::string keys = keys_text(decision.keys, slot_answer_);
    if (!keys.empty())
        type(keys);
    return std::nullopt;
}

void LineWatch::settle(int milliseconds)
{
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < until && pump(10)) {
    }
}

void LineWatch::settle_until_quiet(double quiet_seconds, size_t lines)
{
    const size_t start = seen_.size();
    while (seconds_since(last_byte_at_) < quiet_seconds &&
           static_cast<size_t>(std::count(seen_.begin() + static_cast<long>(start), seen_.end(), '\n')) <
               lines) {
        if (!pump(100))
            return;
    }
}

bool LineWatch::pump(int wait_ms)
{
    uint8_t bytes[256];
    const long got = line_.read(bytes, wait_ms);
    if (got < 0)
        return false;
    take(std::span(bytes, static_cast<size_t>(got)));
    pause_if_quiet();
    return true;
}

void LineWatch::take(std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        return;
    seen_.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    console_.take(bytes.data(), bytes.size());
    last_byte_at_ = Clock::now();
}

void LineWatch::pause_if_quiet()
{
    if (seconds_since(last_byte_at_) >= kPromptPause)
        console_.pause();
}

bool LineWatch::type(std::string_view keys)
{
    typed_ += keys;
    return line_.write(std::string(keys)) == WriteResult::Done;
}

BoardResult LineWatch::fail(int status, const std::string& text)
{
    console_.pause();
    console_.note(text);
    return {status, "failed: " + text};
}

double LineWatch::quiet_seconds() const { return seconds_since(last_byte_at_); }

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
