// A board at the far end of a pty, played from a script by its own thread: its power-on and boot,
// the rescue menu, the receiver's speed switch and transfer, the switch back, the installer and its
// slot question, and the faults a technician's line shows: a restart in the transfer, noise, lost
// keys, a board left waiting by an earlier run, a stalled line, a loopback.  It records every byte
// that reaches it, with the phase it was in and the time, so that a test can say what the tool put
// on the wire and when.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/sx_terminal.h"

// The board's own texts, as they reach the line (the console turns its newlines into CR LF).
inline const std::string kLoader = "\r\nU-Boot 2023.01\r\n\r\nDRAM:  512 MiB\r\n";
inline const std::string kKernel = "Starting kernel ...\r\n[    0.000000] Linux version 6.1.0\r\n";
inline const std::string kMenu =
    "Please select one of the following options:\r\n\tX) Use xmodem 1K to serial "
    "download an image\r\n\tR) Reboot\r\n\tE) Exit\r\n\r\nOption? : ";
inline const std::string kSlotQuestion = "\r\n\r\nExtracting images ... Do *NOT* power cycle the switch.\r\n"
                                         "**** APPLICATION ****\r\nInstall image as image 1 or 2 (hit return "
                                         "to just boot image): ";
// After the slot question's answer and its echo
inline const std::string kSlot2Written =
    "\r\nInstalling image as image2...\r\n..\r\nImage2 updated succeeded\r\n";
inline const std::string kSlot2WriteFailed =
    "\r\nInstalling image as image2...\r\n.Flash Write mtd erase failed.\r\nImage2 updated failed\r\n";
// In place of the installer's lines, after a transfer that brought an empty file
inline const std::string kEmptyFile = "\r\nCan't write file!\r\n";

// What a scripted receiver does after a frame: its answer after a delay, and around it the
// operator's stop or a drain until the line has been quiet that long.
struct FrameAnswer {
    std::vector<uint8_t> bytes = {};
    int delay_ms = 0;
    bool stop_first = false;
    int drain_ms = 0;
    std::vector<uint8_t> before_drain = {};  // said before the drain: noise, or an answer the drain follows
    bool board_leaves = false;               // its console shows it has left the transfer
};

enum class BoardPhase {
    PoweringOn,      // silent, then its boot and the boot loader's countdown
    LoaderPrompt,    // "=> ": a byte stopped the countdown
    Menu,            // at the rescue menu's prompt
    StartWait,       // at 115200 bit/s, waiting for the Enter that starts the transfer
    Receiving,       // the transfer
    SwitchBackWait,  // back at 9600 bit/s, waiting for the line feed
    SlotQuestion,    // the installer's line editor
    Restarting,      // restarted during the transfer: its boot again
    Stalled,         // reads nothing more
    Quiet,           // booted on, or its script played out: says nothing
};

struct BoardScript {
    double silent_seconds = 0;    // after power-on (a memory test)
    std::string boot = "";        // then printed; nothing for a board idle at its menu since before
    bool countdown = false;       // the boot ends in a countdown that any byte received since power-on stops
    bool shows_menu = false;      // after its boot
    std::string installer = "";   // after the switch back
    std::string after_slot = "";  // after the slot question's answer
    std::string after_reset = "";
    int signal_at_install = 0;  // raised as the switch back's Enter comes, before the installer's lines
    int signal_at_x = 0;        // raised once the board has asked for the transfer's speed after X

    // Seconds the countdown runs, from "Hit any key to stop autoboot: %2d "
    int countdown_seconds = 0;
    // A board already waiting for the Enter that starts a transfer (from an earlier run), or already
    // receiving (a sender's test on a line at 115200)
    BoardPhase starts_in = BoardPhase::PoweringOn;
    // A plug wired back to itself: every byte comes back as it went, and nothing else
    bool loopback = false;
    // X reports "Can't open serial port!" and shows the menu again
    bool download_port_missing = false;
    // Played in place of the receiver: the first before any frame, then one per frame; a short quiet
    // after the last ends the script
    std::vector<FrameAnswer> answers = {};
    // The receiver's drain before it answers a bad block with NAK, or gives a transfer up
    int drain_ms = 2000;
    // How often the Enter and line feed waits print their reminders
    int reminder_ms = 11000;
    // After the Nth accepted block the board restarts, unanswered, and boots again: restart_boot,
    // the countdown of restart_countdown_seconds, the kernel, "Entering Rescue Mode." and the menu
    int restart_after_block = 0;
    std::string restart_boot = kLoader;
    int restart_countdown_seconds = 1;
    // A text said at one speed reaches a line set to the other as NUL bytes, one per character
    bool wrong_speed_reads_as_nul = false;
    // Sent after the Nth accepted block's frame, before the board's own answer
    int noise_after_block = 0;
    std::string noise = "";
    // The first CR at the start wait, or the first line end at the slot question, never arrives
    bool lose_start_enter = false;
    bool lose_slot_enter = false;
    // After the Nth accepted block the board reads nothing more, and the line's buffer fills
    int stall_after_block = 0;
};

// A byte or a frame that reached the board: a frame as "STX 01", "SOH 02", "EOT", "CAN" or "?15",
// in parentheses when it came during a drain; anything else one key at a time, as it came.
struct Heard {
    BoardPhase phase;
    double seconds;  // since the board was powered on
    std::string what;
};

class ScriptedBoard {
public:
    // raise_signal raises signal_at_install; by default a kill of this process
    explicit ScriptedBoard(BoardScript script, std::function<void(int signal)> raise_signal = nullptr);
    ~ScriptedBoard();
    ScriptedBoard(const ScriptedBoard&) = delete;
    ScriptedBoard& operator=(const ScriptedBoard&) = delete;

    const std::string& path() const { return pty_.path; }
    BoardPhase phase() const { return phase_; }
    // Whether the board reached the phase within the seconds
    bool wait_for(BoardPhase phase, double seconds) const;

    std::vector<Heard> heard() const;
    // What came while receiving, drains included
    std::vector<std::string> frames() const;
    size_t typed_bytes() const { return typed_bytes_; }
    // The keys typed at the slot question, its line end included
    std::string slot_answer() const;
    bool operator_stopped() const { return operator_stopped_; }
    // Set by FrameAnswer::board_leaves
    bool board_left() const { return board_left_; }
    // Whether any byte came once the restart had begun
    bool heard_since_restart() const;

private:
    void run();
    void power_on();
    void boot(const std::string& text, std::optional<int> countdown, double since);
    [[noreturn]] void menu();
    void download();
    void start_wait();
    void await_key(char wanted, bool lose_first, const std::string& reminder);
    void receive();
    [[noreturn]] void play_answers();
    void play(const FrameAnswer& answer);
    void after_block(int accepted);
    [[noreturn]] void restart();
    void finish_transfer(bool completed, bool file_received);
    void slot_question();
    [[noreturn]] void stay(BoardPhase phase);

    bool read_byte(uint8_t& byte, int wait_ms);
    bool read_key(uint8_t& key, int wait_ms);
    std::optional<std::vector<uint8_t>> read_frame(int wait_ms);
    void listen(int ms);
    void drain(int quiet_ms);
    void pause(int ms);
    void say(const std::string& said);
    void hear(std::string what);
    bool heard_since(double since) const;
    double seconds() const;
    unsigned line_speed() const;

    BoardScript script_;
    std::function<void(int)> raise_signal_;
    Pty pty_;
    std::chrono::steady_clock::time_point powered_on_ = std::chrono::steady_clock::now();
    std::atomic<BoardPhase> phase_;
    unsigned board_speed_ = 9600;
    mutable std::mutex record_lock_;
    std::vector<Heard> heard_;
    std::string slot_answer_;
    std::optional<double> restarted_at_;
    std::atomic<size_t> typed_bytes_{0};
    std::atomic<bool> operator_stopped_{false};
    std::atomic<bool> board_left_{false};
    std::atomic<bool> unplugged_{false};
    std::thread thread_;
};
