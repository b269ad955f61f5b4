// The steps of the conversation with one board, each on the board's line as a LineWatch sees it:
// the menu and the transfer's speed switches, the install followed to its end, the next boot.
// Each gives the board's result when the service ends there.
#pragma once

#include <initializer_list>
#include <optional>
#include <span>
#include <string_view>

#include "imgtool/send/line_watch.h"
#include "imgtool/send/session.h"
#include "imgtool/send/xmodem_send.h"

// The board at its rescue menu, or waiting for the Enter that starts a transfer (served: the Enter
// typed), or why not.
std::optional<BoardResult> find_board(LineWatch& watch, int wait_seconds);
// X at the menu, the board's speed for the transfer, and the Enter that starts it.
std::optional<BoardResult> start_download(LineWatch& watch);
// After a transfer the board asks for the console's speed again and waits for a line feed.
std::optional<BoardResult> switch_back(LineWatch& watch);
// The transfer ended without the file: the board gives up, asks to switch back, shows its menu.
BoardResult end_given_up_transfer(LineWatch& watch, const xmodem::Result& sent);
// The board started again where the tool was sending or had sent: the line back at the console's
// speed, nothing typed, the boot's first lines shown, and the decision's words with the slot it boots.
BoardResult follow_restart(LineWatch& watch, const Decision& decision);

// A wait that did not bring what the step awaited: the phase decides what it means, the words given
// otherwise when the board is still where it was.
BoardResult end_unplanned(LineWatch& watch, Event event, std::string_view otherwise);

// The installer, answered and followed to the end of its walk, then judged by its own words.
BoardResult follow_install(LineWatch& watch, std::span<const PlannedRecord> plan, const SendOptions& options);

// R, then the next boot: the menu again (rescue mode still set) is left with E, and the slot the
// board boots must be the one just written, when one was.
BoardResult verify_next_boot(LineWatch& watch, BoardResult installed, std::optional<int> slot_written);
// The launch of an application booted at once.
BoardResult watch_launch(LineWatch& watch, BoardResult installed);

// Waits like await, typing the line feed again whenever the board reminds that it waits for it
// after a transfer this tool sent.
Event await_answering_reminder(LineWatch& watch, std::initializer_list<Event> events, double seconds);
