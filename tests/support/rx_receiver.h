// lrzsz's rx as the receiver at the far end of the sender's serial line in the interop tests: rx in
// CRC mode on one pty, the sender's line on another, and a relay between them that keeps what the
// sender wrote and can damage one byte of a block on its way.
//
// rx's answers come to the relay through a pipe rather than its pty: rx flushes its tty as it leaves,
// and on a pty (where the drain before it does not wait for the reader, as a UART's does) that flush
// takes back the final ACK if the relay has not read it yet.  The relay hands each answer on a little
// late, as a line would.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "sx_terminal.h"

// One byte of a block, flipped the first time the block passes.
struct BlockDamage {
    uint8_t block;  // its number on the wire
    size_t offset;  // of the byte in the frame, the header byte being 0
};

class RxReceiver {
public:
    // Starts rx receiving into the file, which must not exist yet.
    explicit RxReceiver(const std::string& file, std::optional<BlockDamage> damage = std::nullopt);
    ~RxReceiver();
    RxReceiver(const RxReceiver&) = delete;
    RxReceiver& operator=(const RxReceiver&) = delete;

    // The sender's end of the line.
    const std::string& port_path() const { return sender_side_.path; }
    // rx's exit status once it has ended, waiting up to timeout_ms; -1 if it had not, and is ended then.
    int wait(int timeout_ms);
    // Everything the sender wrote, as it wrote it.
    std::vector<uint8_t> sent() const;

private:
    void relay();
    void pass_to_rx(uint8_t* bytes, size_t count);
    void apply_damage(uint8_t* bytes, size_t count);
    void write_all(int fd, const uint8_t* bytes, size_t count);

    Pty sender_side_;
    Pty rx_side_;
    int answers_ = -1;
    pid_t rx_ = -1;
    std::optional<int> status_;
    std::optional<BlockDamage> damage_;
    // Where the relay stands in the sender's frames
    size_t frame_left_ = 0;
    size_t frame_position_ = 0;
    int frame_number_ = -1;
    mutable std::mutex sent_mutex_;
    std::vector<uint8_t> sent_;
    std::atomic<bool> stop_{false};
    std::thread relay_;
};
