// The sending side of XMODEM-1K in CRC-16 mode, as the board's rescue receiver takes it: 1024-byte
// blocks (STX), the tail in 128-byte blocks (SOH), the last padded with 0x1A; each block answered
// with ACK, NAK or, before the first, 'C'; EOT answered NAK, sent again and answered ACK.  A transfer
// given up before the receiver has taken a block ends the same way, with an empty file; after one,
// with five CAN.  A receiver that has fallen silent, or a board that has restarted, is sent nothing
// more: bytes at the transfer's speed would reach its console as keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "xmodem/control_bytes.h"

class SerialLine;

namespace xmodem {

// What fills the last block behind the file's end.
constexpr uint8_t PAD = 0x1A;

// CRC-16/XMODEM: polynomial 0x1021, from 0, most significant bit first, no final XOR.
uint16_t crc16(std::span<const uint8_t> bytes);

struct BlockPlan {
    uint64_t offset;  // of the block's data in the file
    size_t size;      // 128 or 1024
};
// The blocks a file goes out in: 1024 bytes while more than 896 are left, then 128-byte blocks,
// so that at most 127 bytes of padding follow the file.  No blocks for an empty file.
std::vector<BlockPlan> plan_blocks(uint64_t file_size);
// A block on the wire: header, number, its complement, data padded with PAD to size, CRC high
// byte first.
std::vector<uint8_t> frame_block(uint8_t number, std::span<const uint8_t> data, size_t size);

// What a transfer tells its caller while it runs.
class TransferEvents {
public:
    virtual ~TransferEvents() = default;
    // Bytes of the file the receiver has acknowledged, after every block and once at the start.
    virtual void progress(uint64_t acknowledged, uint64_t total) = 0;
    // Bytes from the line that are not the receiver's answers (the board's console text).
    virtual void console(std::span<const uint8_t> bytes) = 0;
    // A block sent again, and why ("NAK", "no answer", ...), for the log.
    virtual void resent(unsigned block, const std::string& reason) = 0;
    // Polled between reads: true stops the transfer as the operator asked.
    virtual bool interrupted() = 0;
    // Polled before every write and while answers are awaited: true once the board's console text
    // shows it is no longer receiving (a restart sign, bytes at the wrong speed); nothing more goes
    // on the line, not even a cancel.
    virtual bool board_left() = 0;
};

enum class Outcome {
    Sent,               // EOT acknowledged
    ReceiverCancelled,  // the receiver gave up: CAN CAN
    TooManyRetries,     // a block or the EOT went unacknowledged too often, or the receiver fell silent
    NoReceiver,         // no 'C' within the start wait; nothing sent
    Interrupted,        // the operator stopped it; given up
    LineLost,           // the line hung up or failed
    LineStalled,        // the adapter took no bytes within a write's deadline
    BoardLeft,          // the board restarted; nothing more was sent
};

struct Timing {
    int start_wait_ms = 60000;  // for the receiver's first 'C'
    int reply_wait_ms = 12000;  // for the answer to a block (the board drains 2 s before a NAK)
    int settle_ms = 1500;       // quiet after the answer to a block sent again
    unsigned max_tries = 10;    // sends of one block or of the EOT
    // Without any answer for this long the receiver has given up (the board's does after three
    // silent rounds of about seven seconds): the sender stops and sends nothing more
    int silence_limit_ms = 30000;
};

struct Result {
    Outcome outcome;
    uint64_t acknowledged;  // bytes of the file acknowledged
    unsigned resends;
};

// Sends the file over the line once the receiver asks with 'C' (bytes before it go to
// events.console).  The line is at the transfer's speed already.
Result send(SerialLine& line, std::span<const uint8_t> file, TransferEvents& events,
            const Timing& timing = {});

// "sent", or what went wrong in the words of the table of failure phrases: "the board gave the
// transfer up", ...
std::string describe(Outcome outcome);

}  // namespace xmodem
