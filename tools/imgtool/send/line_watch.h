// What a board has printed on its line since the tool opened it, and the waits for its texts: the
// one place where the conversation reads the line, shows the board's lines and types keys.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imgtool/send/screen.h"
#include "imgtool/send/serial_line.h"
#include "imgtool/send/session.h"

class LineWatch {
public:
    // What await gives when none of its texts came
    static constexpr int TIMEOUT = -1;
    static constexpr int LOST = -2;
    static constexpr int INTERRUPTED = -3;

    LineWatch(SerialLine& line, ConsoleLines& console) : line_(line), console_(console) {}

    // The first of the texts to appear after the mark, the mark moved past it; TIMEOUT after seconds
    // (of silence, with idle), LOST, or INTERRUPTED once Ctrl-C was pressed interrupt_limit times.
    int await(std::span<const std::string_view> texts, double seconds, bool idle = false);
    int await(std::initializer_list<std::string_view> texts, double seconds, bool idle = false)
    {
        return await(std::span(texts.begin(), texts.size()), seconds, idle);
    }
    // Reads the line for the given time, keeping what comes.
    void settle(int milliseconds);
    // Reads the line until it has been quiet for the given time or holds that many more lines.
    void settle_until_quiet(double quiet_seconds, size_t lines);
    // Reads what arrives within wait_ms; false when the line is gone.
    bool pump(int wait_ms);
    // Bytes the transfer passed on as console text.
    void take(std::span<const uint8_t> bytes);
    // Shows a prompt the board left open once it has paused.
    void pause_if_quiet();

    bool type(std::string_view keys);
    void note(const std::string& text) { console_.note(text); }
    // Ends the board's service: what failed, said on the screen and in the result.
    BoardResult fail(int status, const std::string& text);

    const std::string& seen() const { return seen_; }
    size_t mark() const { return mark_; }
    std::string since(size_t start) const { return seen_.substr(start); }
    const std::string& typed() const { return typed_; }
    double quiet_seconds() const;
    // Ctrl-C presses that end a wait: 1, or 2 while the board must still be answered, each press
    // below the limit said with the note.
    void set_interrupt_limit(int presses, const std::string& note = "")
    {
        interrupt_limit_ = presses;
        interrupt_note_ = note;
    }
    SerialLine& line() { return line_; }

private:
    SerialLine& line_;
    ConsoleLines& console_;
    std::chrono::steady_clock::time_point last_byte_at_ = std::chrono::steady_clock::now();
    // Everything the board printed, and where the next search starts
    std::string seen_;
    size_t mark_ = 0;
    std::string typed_;
    int interrupt_limit_ = 1;
    int interrupts_noted_ = 0;
    std::string interrupt_note_;
};

// " (no answer)", ": the line went away", ": cancelled by the operator" for await's failures.
std::string await_failure(int found);
// Text cut into lines, line ends and carriage returns dropped; an open last line kept.
std::vector<std::string> lines_of(std::string_view text);
