// What stops imgtool send from outside.  Ctrl-C (SIGINT) is counted in operator_interrupts for the
// conversation to weigh: a first one may still leave the board's questions to answer.  SIGTERM and
// SIGHUP (the session ended, the terminal closed) end the run at once: every wait ends as at the
// last Ctrl-C it allows, and the line's settings and the terminal's mode are put back on the way out.
#pragma once

#include <csignal>
#include <string_view>

// What SIGTERM or SIGHUP adds to operator_interrupts: more presses than any wait counts.
constexpr int LEAVING_PRESSES = 1000;

// True once SIGTERM or SIGHUP has come.
bool leaving_at_once();

// How the run was stopped, for the message that ends it: by a signal once SIGTERM or SIGHUP has
// come (nobody pressed a key, and nobody may be reading), else by the operator's Ctrl-C.
std::string_view stop_phrase();

// While it lives, SIGINT, SIGTERM and SIGHUP are taken as above, and the waits they interrupt end
// early; the handlers found are put back after.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    struct sigaction saved_[3]{};
};
