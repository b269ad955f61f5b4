// One board served by imgtool send: found on its line at the rescue menu, sent the download, its
// installer answered and followed, and, when asked, its next boot watched.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "imgtool/send/screen.h"

// The line's speed outside the transfer, at which the board's console runs.
constexpr unsigned BOARD_CONSOLE_SPEED = 9600;

// What the board's installer will be asked to do with each record of the download.
struct PlannedRecord {
    std::string type;  // "application", "kernel", ...
    bool installed;    // the installer handles it (diagnostics and type5 records it passes over)
};

struct SendOptions {
    std::optional<int> slot;  // 1 or 2
    bool boot = false;        // an application is booted at once instead
    int wait_seconds = 60;
    bool verify = false;
};

// The board's outcome, as the summary table and the exit status give it.
struct BoardResult {
    int status;           // 0 done, 1 the board failed or the transfer was given up, 3 no board answered
    std::string summary;  // "installed: application in slot 2; booted slot 2", "failed: ..."
    double seconds = 0;   // the transfer's
    double rate = 0;      // bytes a second
};

// Ctrl-C as the sessions see it: how many times the operator pressed it.
extern std::atomic<int> operator_interrupts;

BoardResult serve_board(const std::string& line_path, size_t index, Screen& screen, Transcript& transcript,
                        std::span<const uint8_t> download, const std::vector<PlannedRecord>& plan,
                        const SendOptions& options);
