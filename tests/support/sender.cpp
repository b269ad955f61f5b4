#include "sender.h"

#include <algorithm>
#include <utility>

#include "xmodem/xmodem.h"

uint16_t crc16_bitwise(const Bytes& data)
{
    uint16_t crc = 0;
    for (uint8_t b : data) {
        crc ^= static_cast<uint16_t>(b << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

Bytes frame(uint8_t number, const Bytes& data)
{
    uint16_t crc = crc16_bitwise(data);
    Bytes block(3 + data.size() + 2);
    block[0] = data.size() == 1024 ? 0x02 : 0x01;
    block[1] = number;
    block[2] = static_cast<uint8_t>(255 - number);
    std::copy(data.begin(), data.end(), block.begin() + 3);
    block[3 + data.size()] = static_cast<uint8_t>(crc >> 8);
    block[4 + data.size()] = static_cast<uint8_t>(crc & 0xFF);
    return block;
}

std::vector<Bytes> frames_from_one(const std::vector<Bytes>& blocks)
{
    std::vector<Bytes> frames;
    for (size_t i = 0; i < blocks.size(); ++i)
        frames.push_back(frame(static_cast<uint8_t>(i + 1), blocks[i]));
    return frames;
}

Bytes padded(const std::string& text, size_t size)
{
    Bytes data(text.begin(), text.end());
    data.resize(size, 0x1A);
    return data;
}

Bytes concat(const std::vector<Bytes>& parts)
{
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::string hex(const Bytes& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::shared_ptr<sim::ReactivePeer> operator_ready(uint64_t byte_time_us)
{
    auto peer = std::make_shared<sim::ReactivePeer>(byte_time_us);
    peer->then({0x0D}, 500000);
    return peer;
}

void send_frames(sim::ReactivePeer& peer, const std::vector<Bytes>& frames)
{
    for (size_t i = 0; i < frames.size(); ++i)
        peer.on(i == 0 ? kStart : kAck, frames[i]);
}

void end_of_file(sim::ReactivePeer& peer, uint8_t trigger)
{
    peer.on(trigger, {kEot}).on(kNak, {kEot});
    operator_done(peer);
}

void operator_done(sim::ReactivePeer& peer, uint8_t trigger, uint64_t delay_us)
{
    peer.on(trigger, {0x0A}, delay_us);
}

void operator_done_after_cancel(sim::ReactivePeer& peer) { operator_done(peer, kCan, 5000000); }

sim::Run receive(sim::Board& board, std::shared_ptr<sim::SerialPeer> peer)
{
    board.serial.peer = std::move(peer);
    return board.run([] { return Xmodem1K("/tmp/image"); });
}

Lines wire(const sim::Run& r) { return r.steps({sim::Event::Kind::SerialTx, sim::Event::Kind::SerialRx}); }

Lines sent(const sim::Run& r) { return r.steps({sim::Event::Kind::SerialTx}); }

Lines one_line(const sim::Run& r)
{
    return r.steps({sim::Event::Kind::Out, sim::Event::Kind::Err, sim::Event::Kind::SerialTx});
}

std::vector<uint64_t> sent_at(const sim::Run& r, uint8_t byte)
{
    std::vector<uint64_t> times;
    for (const sim::Event& e : r.events)
        if (e.kind == sim::Event::Kind::SerialTx && e.text == std::string(1, static_cast<char>(byte)))
            times.push_back(e.at_us);
    return times;
}
