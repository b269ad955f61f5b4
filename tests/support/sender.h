// The far end of a download in the tests: blocks framed from literal data with the tests' own
// CRC-16, and a sender with its operator on the simulated serial port.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bytes.h"
#include "console_texts.h"
#include "sim/board.h"
#include "xmodem_bytes.h"

// CRC-16/XMODEM (polynomial 0x1021, start 0, most significant bit first), one bit at a time.
uint16_t crc16_bitwise(const Bytes& data);

// A block on the wire: 0x01 for 128 data bytes or 0x02 for 1024, number, 255 - number, the data,
// the CRC high byte, then the low byte.
Bytes frame(uint8_t number, const Bytes& data);
// The blocks framed one after the other, numbered from 1 and on through 255, 0, 1, ... as on the wire.
std::vector<Bytes> frames_from_one(const std::vector<Bytes>& blocks);
// The text padded with 0x1A up to size, as a sender fills its last block.
Bytes padded(const std::string& text, size_t size);
Bytes concat(const std::vector<Bytes>& parts);
std::string hex(const Bytes& bytes);

// A peer whose operator hits carriage return half a second after the board switched the port.
std::shared_ptr<sim::ReactivePeer> operator_ready(uint64_t byte_time_us = 0);
// The frames one by one, the first on the board's 'C', each further one on its ACK.
void send_frames(sim::ReactivePeer& peer, const std::vector<Bytes>& frames);
// EOT on the board's byte trigger, EOT again on its NAK, and the operator's line feed half a second
// after the final ACK.
void end_of_file(sim::ReactivePeer& peer, uint8_t trigger = kAck);
// The operator's line feed after the board's byte trigger; after five CANs the board first drains
// the line for 2 s, so the operator is slower there.
void operator_done(sim::ReactivePeer& peer, uint8_t trigger = kAck, uint64_t delay_us = 500000);
void operator_done_after_cancel(sim::ReactivePeer& peer);

// Runs Xmodem1K("/tmp/image") on the board with this far end.
sim::Run receive(sim::Board& board, std::shared_ptr<sim::SerialPeer> peer);

// The serial bytes in order ("tx:.."/"rx:.."), and the board's sent bytes alone.
Lines wire(const sim::Run& r);
Lines sent(const sim::Run& r);
// What the board wrote as a module's one line carries it, console and download port being the same:
// standard output, standard error and the serial bytes sent, in the order they left.
Lines one_line(const sim::Run& r);
// Virtual times at which the board sent this byte.
std::vector<uint64_t> sent_at(const sim::Run& r, uint8_t byte);
