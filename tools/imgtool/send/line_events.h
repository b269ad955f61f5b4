// What imgtool send reads on a board's line, typed: the first event among those a step of the
// conversation waits for, found in the board's text.  Plain functions over the text.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>

#include "imgtool/send/board_phase.h"

struct FoundEvent {
    Event event;
    size_t end;  // just past the event's text in the board's text
};

// The earliest of the wanted events in text from the offset on.  A loader prompt counts only as the
// last thing the board printed, bytes at the wrong speed only once there are enough of them.
std::optional<FoundEvent> find_event(std::string_view text, size_t from, std::span<const Event> wanted);

// Bytes no board text holds: a run of them is text sent at another speed than the line's, which a
// UART reads as NULs and stray high bytes.
size_t wrong_speed_bytes(std::string_view text);
