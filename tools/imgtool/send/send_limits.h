// Every time limit of imgtool send's conversation, beside the board's own times it derives from.
// A limit is the board's time with room for a loaded board and a slow adapter, never a guess of its
// own: when the board's timing changes, the limits here follow.
#pragma once

namespace board_time {

// The console runs at 9600 bit/s, ten bits a character: the longest text the board prints in one go
// (its menu, about 150 characters) takes 0.16 s.
inline constexpr double TEXT_SECONDS_PER_BYTE = 10.0 / 9600;
// The receiver waits 5 s for a block's header, drains the line until it has been quiet for 2 s and
// asks again; the third such round since the last block it took gives the transfer up.
inline constexpr double RECEIVER_ROUND = 5.0 + 2.0;
inline constexpr int RECEIVER_SILENT_ROUNDS = 3;
// Waiting for the Enter before or after a transfer, the board polls once a second and reminds at every
// eleventh poll.
inline constexpr double REMINDER_PERIOD = 11.0;
// The installer prints a dot per erase block written; erasing and writing one takes well under a
// second on the module's NOR flash.
inline constexpr double SECTOR_WRITE = 1.0;
// A module powered on may test its memory in silence before its boot loader prints anything.
inline constexpr double SILENT_MEMORY_TEST = 5.0;
// Power-on to the launcher's menu through the boot loader's countdown and the kernel.
inline constexpr double BOOT = 60.0;

}  // namespace board_time

namespace limit {

// A key goes into a silent line only once it has been silent longer than a memory test lasts.
inline constexpr double QUIET_BEFORE_WAKE_KEY = board_time::SILENT_MEMORY_TEST + 3.0;
// An answer to a key: a prompt or the start of the board's reply.
inline constexpr double PROMPT = 20.0;
// The echo of a key erased with the line's erase character.
inline constexpr double ERASE_ECHO = 1.0;
// The board switches its port after asking; a key sent sooner is lost.
inline constexpr int SWITCH_DELAY_MS = 300;
// Listening at the transfer's speed for a reminder that a board waits for the Enter that starts one.
inline constexpr double START_REMINDER = board_time::REMINDER_PERIOD + 2.0;
// No answer to the blocks: the receiver has given the transfer up by then.
inline constexpr double TRANSFER_SILENCE =
    board_time::RECEIVER_ROUND * board_time::RECEIVER_SILENT_ROUNDS + 9.0;
// The board asks to switch back at once after the transfer, or after giving it up: its five CAN and
// a 2 s drain, or its silent rounds when the sender stopped first.
inline constexpr double SWITCH_BACK =
    board_time::RECEIVER_ROUND * board_time::RECEIVER_SILENT_ROUNDS * 2 + 18.0;
// After the slot answer, the line editor echoes the line end at once; a question still standing
// after this long lost its Enter.
inline constexpr double SLOT_ANSWER_ECHO = 3.0;
// The installer's dots come at least once per erase block: a board silent this long has gone.
inline constexpr double INSTALL_SILENCE = board_time::SECTOR_WRITE * 60;
// Power-on, or the reset after an install, to the launch.
inline constexpr double BOOT = board_time::BOOT * 2;
// After a restart in the transfer, the boot's first lines are shown before the tool ends.
inline constexpr double RESTART_LINES = 3.0;
// --wait stretches while the board prints: it ends once the board has been quiet this long, and
// never later than the stretch after its own end.
inline constexpr double WAIT_QUIET = 5.0;
inline constexpr double WAIT_STRETCH = board_time::BOOT * 2;
// What of a launch is shown: its first lines, up to the first pause.
inline constexpr double LAUNCH_QUIET = 2.0;

}  // namespace limit
