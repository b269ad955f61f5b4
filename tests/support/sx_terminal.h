// The operator's terminal program in the interop tests and benchmarks: lrzsz's sx on one pty, relayed
// to the board's serial port on another, in real time.
//
// It stands where the operator's terminal program stands: between the two ptys it relays the bytes
// and types the keys the receiver asks for, the carriage return before the transfer and the line feed
// after it.  sx runs before the receiver sends its first 'C', as a terminal program starts it, since it
// takes every 'C' already waiting on its line as a request to resend block 1.
#pragma once

#include <atomic>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

// A pty pair with its far end raw, so the line discipline neither echoes nor edits the bytes.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;

    Pty();
    ~Pty();
};

// Runs sx with the arguments on one pty and relays it to the board's port on the other.
class Terminal {
public:
    explicit Terminal(const std::vector<std::string>& sx_args);
    ~Terminal();
    const std::string& port_path() const { return board_side_.path; }
    int sender_status() const { return sender_status_; }

private:
    void relay();

    Pty board_side_;
    Pty sx_side_;
    pid_t sender_ = -1;
    std::atomic<bool> sender_done_{false};
    int sender_status_ = -1;
    std::atomic<bool> stop_{false};
    std::thread relay_;
};
