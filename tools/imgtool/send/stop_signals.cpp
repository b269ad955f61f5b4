#include "imgtool/send/stop_signals.h"

#include <atomic>
#include <csignal>

#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/session.h"

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

std::atomic<bool> leaving{false};

void count_interrupt(int) { operator_interrupts.fetch_add(1); }

void leave(int)
{
    leaving = true;
    operator_interrupts.fetch_add(LEAVING_PRESSES);
}

}  // namespace

bool leaving_at_once() { return leaving.load(); }

std::string_view stop_phrase() { return leaving_at_once() ? phrase::STOPPED_BY_SIGNAL : phrase::CANCELLED; }

StopSignals::StopSignals()
{
    operator_interrupts = 0;
    leaving = false;
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction action {};
        action.sa_handler = kSignals[i] == SIGINT ? count_interrupt : leave;
        sigemptyset(&action.sa_mask);
        sigaction(kSignals[i], &action, &saved_[i]);
    }
}

StopSignals::~StopSignals()
{
    for (size_t i = 0; i < std::size(kSignals); ++i)
        sigaction(kSignals[i], &saved_[i], nullptr);
}
