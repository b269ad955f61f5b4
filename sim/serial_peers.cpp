// The far end of the serial port for the tests: a peer that answers what the board sends.
#include <algorithm>

#include "sim/board.h"

namespace sim {

ReactivePeer& ReactivePeer::on(uint8_t trigger, const std::vector<uint8_t>& bytes, uint64_t delay_us)
{
    steps_.push_back({trigger, bytes, delay_us});
    return *this;
}

ReactivePeer& ReactivePeer::then(const std::vector<uint8_t>& bytes, uint64_t delay_us)
{
    steps_.push_back({std::nullopt, bytes, delay_us});
    return *this;
}

// The step in hand happens at at_us: its bytes leave from then on, once the line is free.
void ReactivePeer::fire(uint64_t at_us)
{
    const Step& step = steps_[next_step_++];
    last_fired_us_ = at_us;
    uint64_t at = std::max(at_us, line_free_us_);
    for (uint8_t b : step.bytes) {
        at += byte_time_us_;
        outgoing_.emplace_back(at, b);
    }
    line_free_us_ = at;
}

// Steps without a trigger follow the one before them on their own, each after its delay.
void ReactivePeer::fire_untriggered(uint64_t now_us)
{
    while (next_step_ < steps_.size() && !steps_[next_step_].trigger) {
        uint64_t due = last_fired_us_ + steps_[next_step_].delay_us;
        if (due > now_us)
            return;
        fire(due);
    }
}

void ReactivePeer::receive(uint8_t byte, uint64_t now_us)
{
    fire_untriggered(now_us);
    if (next_step_ < steps_.size() && steps_[next_step_].trigger == byte)
        fire(now_us + steps_[next_step_].delay_us);
}

std::optional<uint8_t> ReactivePeer::send(uint64_t now_us)
{
    fire_untriggered(now_us);
    if (next_out_ >= outgoing_.size() || outgoing_[next_out_].first > now_us)
        return std::nullopt;
    return outgoing_[next_out_++].second;
}

}  // namespace sim
