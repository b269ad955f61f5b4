// What imgtool send shows while it serves boards: each board's console lines on standard output,
// its own notes and the progress lines on standard error, and a transcript with times per board.
#pragma once

#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "imgtool/send/progress.h"
#include "imgtool/send/transcript.h"

class Screen {
public:
    // With progress_redrawn, progress lines are redrawn in place at the bottom (a terminal);
    // otherwise a plain line is printed at every tenth of a transfer.
    Screen(std::ostream& out, std::ostream& err, bool progress_redrawn, std::vector<std::string> boards);

    // One board's console line; prefixed with the board's name when several are served.
    void console_line(size_t board, const std::string& text);
    // A note of the tool's own: "imgtool send: NAME: text" (no name for board npos).
    void note(size_t board, const std::string& text);
    void progress(size_t board, const TransferProgress& progress);
    // The board's progress line is gone from the bottom of the screen.
    void end_progress(size_t board);

private:
    std::string prefix(size_t board) const;
    // The lines of the progress block away, something printed, the block back.
    template <typename Print>
    void above_progress(Print print);

    std::mutex mutex_;
    std::ostream& out_;
    std::ostream& err_;
    bool redrawn_;
    std::vector<std::string> names_;
    std::vector<std::string> progress_lines_;
    std::vector<int> tenths_shown_;
    size_t drawn_ = 0;
};

// A board's console text cut into lines: line ends dropped, a line still open shown once the board
// has paused, the receiver's answers (ACK, NAK, CAN) left out, other bytes that are not printable
// shown as \xNN (a run of NULs as a count of garbled bytes), and every line kept in the board's
// transcript.  Without a screen (the terminal, which shows the bytes as they come) lines are only kept.
class ConsoleLines {
public:
    ConsoleLines(Screen* screen, size_t board, Transcript& transcript);

    void take(const uint8_t* bytes, size_t count);
    // Shows the open line when the board has printed nothing for a while (a prompt), and the notes
    // held back behind it.
    void pause();
    // A line for the transcript alone: where the tool sees the board, for whoever reads the log after.
    void record(const std::string& text) { transcript_.line("% ", text); }
    // A note of the tool's own, also kept in the transcript.  While the board is in the middle of a
    // line it waits for the line's end or a pause, so that it never cuts the board's line in two.
    void note(const std::string& text);

private:
    void emit();
    void show_held_notes();
    void show_garbled();

    Screen* screen_;
    size_t board_;
    Transcript& transcript_;
    std::string open_line_;
    size_t garbled_ = 0;
    std::vector<std::string> held_notes_;
};
