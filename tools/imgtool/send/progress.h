// A transfer's progress as the technician reads it: bytes, per cent, rate and time left.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class TransferProgress {
public:
    explicit TransferProgress(uint64_t total) : total_(total) {}

    // The bytes acknowledged by now_seconds (any steady clock).  The rate runs from the first
    // acknowledgement, so that the wait for the receiver does not count as a slow line.
    void update(double now_seconds, uint64_t acknowledged);

    uint64_t done() const { return done_; }
    uint64_t total() const { return total_; }
    unsigned percent() const;
    // Bytes a second; 0 until two acknowledgements are apart in time.
    double rate() const;
    std::optional<double> seconds_left() const;
    // Seconds from the first acknowledgement to the last.
    double elapsed() const { return started_ ? last_at_ - first_at_ : 0.0; }

private:
    uint64_t total_;
    uint64_t done_ = 0;
    bool started_ = false;
    double first_at_ = 0.0;
    uint64_t first_done_ = 0;
    double last_at_ = 0.0;
};

// "40 % 419840/1049600 bytes 11.2 KiB/s 0:56 left"
std::string progress_text(const TransferProgress& progress);
// "11.2 KiB/s"
std::string rate_text(double bytes_per_second);
// "1:34", or "1:02:03" past the hour
std::string duration_text(double seconds);
