// The phrases of imgtool send's failures and of the notes a technician must act on.  Every message
// is built around one of them, and the runbook's table of messages has a row for each, so that
// whatever the tool ends with can be looked up there.  The check of those rows reads the definitions
// below as they are written: each phrase stays one string literal of its own.
#pragma once

#include <string_view>

namespace phrase {

// Refusals before any line is touched: the command line, then the download as the board would take it
inline constexpr std::string_view ONE_DOWNLOAD = "expected one DOWNLOAD";
inline constexpr std::string_view LINE_NEEDED = "--line DEV is needed";
inline constexpr std::string_view SLOT_VALUES = "--slot takes 1, 2 or boot";
inline constexpr std::string_view WAIT_VALUES = "--wait takes a number of seconds";
inline constexpr std::string_view TERMINAL_ONE_LINE = "--terminal takes one --line";
inline constexpr std::string_view SAME_DEVICE = "are the same device";
inline constexpr std::string_view CANNOT_READ = "cannot read";
inline constexpr std::string_view FLASH_IMAGE = "is a flash image, not a download";
inline constexpr std::string_view NO_RECORD = "holds no image record";
inline constexpr std::string_view CUT_SHORT = "is cut short";
inline constexpr std::string_view BAD_CRC = "has a bad CRC";
inline constexpr std::string_view NEEDS_SLOT = "holds an application record: say where it goes";
inline constexpr std::string_view TOO_BIG = "is too big for its flash area";
inline constexpr std::string_view RECORDS_END_EARLY = "its records end early:";
inline constexpr std::string_view NOTHING_INSTALLED = "holds nothing the board installs";
inline constexpr std::string_view SLOT_WITHOUT_APPLICATION = "--slot is for an application record";

// The line
inline constexpr std::string_view IN_USE = "is in use by another program";
inline constexpr std::string_view PERMISSION_DENIED = "Permission denied";
inline constexpr std::string_view NOT_OPEN_TO_GROUP = "not open to its group";
inline constexpr std::string_view NOT_A_SERIAL_LINE = "not a serial line";
inline constexpr std::string_view CANNOT_TAKE = "cannot take";
inline constexpr std::string_view CANNOT_SET_UP = "cannot set up";
inline constexpr std::string_view NO_TERMINAL = "no terminal:";
inline constexpr std::string_view TERMINAL_BY_SIGNAL = "terminal ended by a signal";

// Finding the board
inline constexpr std::string_view NO_BOARD = "no board answered";
inline constexpr std::string_view LOOPBACK = "a loopback, or a board at another program's prompt";
inline constexpr std::string_view NEVER_SHOWED_MENU = "the board booted but never showed its menu";
inline constexpr std::string_view BOOTING_APPLICATION =
    "the board is booting its application, not the rescue menu";
inline constexpr std::string_view AT_LOADER_PROMPT = "the board stopped at its boot loader's prompt";
inline constexpr std::string_view WAITS_TO_START = "the board waits for the Enter that starts a transfer";
inline constexpr std::string_view WAITS_TO_INSTALL = "the board waits for the Enter that installs a file";
inline constexpr std::string_view ASKS_FOR_EARLIER_FILE =
    "the board asks where to install a file received before this run";
inline constexpr std::string_view AT_LINE_PROMPT = "the board waits at a line prompt";

// The transfer
inline constexpr std::string_view REPORTED = "the board reported:";
inline constexpr std::string_view NO_DOWNLOAD_AFTER_X = "the board did not start its download after X";
inline constexpr std::string_view UNREADABLE_SPEED =
    "the board asked for a speed this tool cannot read or set";
inline constexpr std::string_view NO_SWITCH_BACK = "the board did not ask to switch back after the transfer";
inline constexpr std::string_view CANNOT_SWITCH = "cannot switch the line to the speed the board asks for";
inline constexpr std::string_view LINE_LOST = "the line went away during the transfer";
inline constexpr std::string_view ADAPTER_STALLED = "the line takes no bytes: the adapter stalled";
inline constexpr std::string_view NEVER_ASKED = "the board never asked for the file";
inline constexpr std::string_view GAVE_UP = "the board gave the transfer up";
inline constexpr std::string_view STOPPED_ANSWERING = "the board stopped answering";
inline constexpr std::string_view CANCELLED = "cancelled by the operator";
inline constexpr std::string_view STOPPED_BY_SIGNAL = "stopped by a signal (SIGTERM or SIGHUP)";
inline constexpr std::string_view MENU_NOT_BACK = "its menu did not come back";
inline constexpr std::string_view RESTARTED_IN_TRANSFER = "the board restarted during the transfer";

// The install
inline constexpr std::string_view EMPTY_FILE = "the board installed nothing: the file arrived empty";
inline constexpr std::string_view RESTARTED = "the board restarted during the install";
inline constexpr std::string_view WENT_AWAY = "the board went away during the install";
inline constexpr std::string_view LINE_LOST_IN_INSTALL = "the line went away during the install";
inline constexpr std::string_view LINE_LOST_AFTER_INSTALL = "the line went away after the install";
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
