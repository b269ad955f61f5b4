// The phrases of imgtool send's failures and of the notes a technician must act on.  Every message
// is built around one of them, and the runbook's table of messages has a row for each, so that
// whatever the tool ends with can be looked up there.
#pragma once

#include <string_view>

namespace phrase {

// Finding the board
inline constexpr std::string_view NO_BOARD = "no board answered";
inline constexpr std::string_view LOOPBACK = "a loopback, or a board at another program's prompt";
inline constexpr std::string_view NEVER_SHOWED_MENU = "the board booted but never showed its menu";
inline constexpr std::string_view BOOTING_APPLICATION =
    "the board is booting its application, not the rescue menu";
inline constexpr std::string_view AT_LOADER_PROMPT = "the board stopped at its boot loader's prompt";
inline constexpr std::string_view WAITS_TO_START = "the board waits for the Enter that starts a transfer";
inline constexpr std::string_view WAITS_TO_INSTALL = "the board waits for the Enter that installs a file";

// The transfer
inline constexpr std::string_view REPORTED = "the board reported:";
inline constexpr std::string_view NO_DOWNLOAD_AFTER_X = "the board did not start its download after X";
inline constexpr std::string_view UNREADABLE_SPEED =
    "the board asked for a speed this tool cannot read or set";
inline constexpr std::string_view NO_SWITCH_BACK = "the board did not ask to switch back after the transfer";
inline constexpr std::string_view CANNOT_SWITCH = "cannot switch the line to the speed the board asks for";
inline constexpr std::string_view LINE_LOST = "the line went away during the transfer";
inline constexpr std::string_view NEVER_ASKED = "the board never asked for the file";
inline constexpr std::string_view GAVE_UP = "the board gave the transfer up";
inline constexpr std::string_view STOPPED_ANSWERING = "the board stopped answering";
inline constexpr std::string_view CANCELLED = "cancelled by the operator";
inline constexpr std::string_view MENU_NOT_BACK = "its menu did not come back";

// The install
inline constexpr std::string_view EMPTY_FILE = "the board installed nothing: the file arrived empty";
inline constexpr std::string_view RESTARTED = "the board restarted during the install";
inline constexpr std::string_view WENT_AWAY = "the board went away during the install";
inline constexpr std::string_view NOT_CONFIRMED = "the board did not confirm";
inline constexpr std::string_view RECORDS_HANDLED = "the board handled";
inline constexpr std::string_view WALK_NOT_ENDED = "the board did not end its install";
inline constexpr std::string_view LEFT_AT_SECOND_CTRL_C = "left at the operator's second Ctrl-C";

// The next boot
inline constexpr std::string_view NO_BOOT_AFTER_RESET = "the board did not boot after the reset";
inline constexpr std::string_view BOOTED_OTHER_SLOT = "the board booted slot";
inline constexpr std::string_view ASKS_RECOVERY = "the board asks whether to enter recovery mode";
inline constexpr std::string_view APPLICATION_DID_NOT_START = "the application did not start";
inline constexpr std::string_view RESCUE_STILL_SET = "diagnostics=rescue still set";

// Notes
inline constexpr std::string_view NO_TRANSCRIPT = "cannot write the transcript";

}  // namespace phrase

inline constexpr std::string_view FAILURE_PHRASES[] = {
    phrase::NO_BOARD,
    phrase::LOOPBACK,
    phrase::NEVER_SHOWED_MENU,
    phrase::BOOTING_APPLICATION,
    phrase::AT_LOADER_PROMPT,
    phrase::WAITS_TO_START,
    phrase::WAITS_TO_INSTALL,
    phrase::REPORTED,
    phrase::NO_DOWNLOAD_AFTER_X,
    phrase::UNREADABLE_SPEED,
    phrase::NO_SWITCH_BACK,
    phrase::CANNOT_SWITCH,
    phrase::LINE_LOST,
    phrase::NEVER_ASKED,
    phrase::GAVE_UP,
    phrase::STOPPED_ANSWERING,
    phrase::CANCELLED,
    phrase::MENU_NOT_BACK,
    phrase::EMPTY_FILE,
    phrase::RESTARTED,
    phrase::WENT_AWAY,
    phrase::NOT_CONFIRMED,
    phrase::RECORDS_HANDLED,
    phrase::WALK_NOT_ENDED,
    phrase::LEFT_AT_SECOND_CTRL_C,
    phrase::NO_BOOT_AFTER_RESET,
    phrase::BOOTED_OTHER_SLOT,
    phrase::ASKS_RECOVERY,
    phrase::APPLICATION_DID_NOT_START,
    phrase::RESCUE_STILL_SET,
    phrase::NO_TRANSCRIPT,
};
