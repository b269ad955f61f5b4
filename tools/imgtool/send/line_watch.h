// What a board has printed on its line since the tool opened it, and the waits for its texts: the
// one place where the conversation reads the line, shows the board's lines and types keys.
#pragma once

#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imgtool/send/board_phase.h"
#include "imgtool/send/screen.h"
#include "imgtool/send/serial_line.h"
#include "imgtool/send/session.h"

class LineWatch {
public:
    LineWatch(SerialLine& line, ConsoleLines& console) : line_(line), console_(console) {}

    // The first of the events to appear after the mark, the mark moved past it; Silence after seconds
    // (of quiet, with idle), LineLost, or Stopped once Ctrl-C was pressed interrupt_limit times.
    Event await(std::span<const Event> events, double seconds, bool idle = false);
    Event await(std::initializer_list<Event> events, double seconds, bool idle = false)
    {
        return await(std::span(events.begin(), events.size()), seconds, idle);
    }
    // How the run is being stopped, once await gave Stopped.
    Stop stop() const;
    // Types the decision's keys and notes its words while the service goes on; the board's result when
    // it ends there.
    std::optional<BoardResult> carry_out(const Decision& decision);

    // Where the board stands, as the conversation last saw it.
    Phase phase() const { return phase_; }
    // A new phase goes into the transcript with what the board waits for there and what may be typed.
    void set_phase(Phase phase);
    // What the slot question is answered: "1", "2", or nothing to boot at once.
    void set_slot_answer(const std::string& slot) { slot_answer_ = slot; }
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
    // Passes over what the board printed so far: no later wait finds an event in it.
    void skip_to_end() { mark_ = seen_.size(); }
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
    Phase phase_ = Phase::Booting;
    std::string slot_answer_;
    int interrupt_limit_ = 1;
    int interrupts_noted_ = 0;
    std::string interrupt_note_;
};

// Text cut into lines, line ends and carriage returns dropped; an open last line kept.
std::vector<std::string> lines_of(std::string_view text);
