#include "imgtool/send/line_watch.h"

#include <algorithm>

#include "imgtool/send/failure_phrases.h"
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

int LineWatch::await(std::span<const std::string_view> texts, double seconds, bool idle)
{
    const Clock::time_point start = Clock::now();
    while (true) {
        size_t first = std::string::npos;
        int which = TIMEOUT;
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
        const int presses = operator_interrupts.load();
        if (presses >= interrupt_limit_)
            return INTERRUPTED;
        if (presses > interrupts_noted_) {
            interrupts_noted_ = presses;
            if (!interrupt_note_.empty())
                note(interrupt_note_);
        }
        if (seconds_since(idle ? std::max(start, last_byte_at_) : start) >= seconds)
            return TIMEOUT;
        if (!pump(100))
            return LOST;
    }
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

std::string await_failure(int found)
{
    if (found == LineWatch::LOST)
        return ": the line went away";
    if (found == LineWatch::INTERRUPTED)
        return ": " + std::string(stop_phrase());
    return " (no answer)";
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
