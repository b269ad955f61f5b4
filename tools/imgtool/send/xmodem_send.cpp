#include "imgtool/send/xmodem_send.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>

#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/serial_line.h"
#include "imgtool/send/stop_signals.h"

namespace xmodem {

namespace {

constexpr size_t kLongBlock = 1024;
constexpr size_t kShortBlock = 128;
// Below this many bytes left, 128-byte blocks carry the tail with less padding than one long block
constexpr uint64_t kShortTail = 7 * kShortBlock;
constexpr int kPollMs = 100;
constexpr int kCancelCount = 5;
// How long an answer to the block on the wire is awaited once the operator has stopped the transfer
constexpr int kLastAnswerMs = 3000;

using Clock = std::chrono::steady_clock;

int ms_until(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(left < kPollMs ? left : kPollMs);
}

enum class Reply {
    Ack,
    Nak,
    Request,
    Cancelled,
    Silence,
    TriesOut,
    GoneQuiet,
    Interrupted,
    Lost,
    Stalled,
    Left
};

// Reads the receiver's answers, handing every other byte on as console text.
class Replies {
public:
    Replies(SerialLine& line, TransferEvents& events) : line_(line), events_(events) {}

    // The next answer within wait_ms; 'C' counts only while the first block is unanswered.  When
    // the operator stops the transfer meanwhile, the answer to the block on the wire is still
    // awaited for a while and given as it is: a receiver that has taken the block is past the point
    // where an end of transmission would end its wait with an empty file.
    Reply next(int wait_ms, bool request_counts)
    {
        Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(wait_ms);
        bool stopping = false;
        while (true) {
            if (events_.board_left())
                return Reply::Left;
            if (!stopping && events_.interrupted()) {
                stopping = true;
                deadline = std::min(deadline, Clock::now() + std::chrono::milliseconds(kLastAnswerMs));
            }
            if (position_ == count_) {
                if (Clock::now() >= deadline)
                    return stopping ? Reply::Interrupted : Reply::Silence;
                if (!fill(ms_until(deadline)))
                    return Reply::Lost;
                continue;
            }
            if (auto reply = take(buffer_[position_++], request_counts))
                return *reply;
        }
    }

    // Waits for settle_ms without a byte, dropping answers: a receiver that got a block twice
    // answers the second copy late.  Gives what ends the transfer instead (the receiver's cancel, the
    // line gone, the board gone); the operator's stop ends the wait early, and the transfer stops
    // before the next block.
    std::optional<Reply> settle(int settle_ms)
    {
        Clock::time_point quiet_until = Clock::now() + std::chrono::milliseconds(settle_ms);
        while (Clock::now() < quiet_until && !events_.interrupted()) {
            const long got = read_dropping_answers(ms_until(quiet_until));
            if (got < 0)
                return got == kCancelled ? Reply::Cancelled : Reply::Lost;
            if (events_.board_left())
                return Reply::Left;
            if (got > 0)
                quiet_until = Clock::now() + std::chrono::milliseconds(settle_ms);
        }
        return std::nullopt;
    }

    // Drops the answers that came before a frame goes out: they cannot be answers to it.
    std::optional<Reply> drop_waiting()
    {
        while (true) {
            const long got = read_dropping_answers(0);
            if (got < 0)
                return got == kCancelled ? Reply::Cancelled : Reply::Lost;
            if (got == 0)
                return std::nullopt;
            if (events_.board_left())
                return Reply::Left;
        }
    }

    // Bytes already read and not yet looked at go to the console.
    void flush_text()
    {
        events_.console(std::span(buffer_.data() + position_, count_ - position_));
        position_ = count_;
    }

    // What is left of the silence limit since the receiver's last answer.
    int ms_before_silence(int silence_limit_ms) const
    {
        const auto quiet =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - last_answer_at_);
        return quiet.count() >= silence_limit_ms ? 0 : silence_limit_ms - static_cast<int>(quiet.count());
    }

private:
    static constexpr long kCancelled = -2;

    bool fill(int wait_ms)
    {
        const long got = line_.read(buffer_, wait_ms);
        if (got < 0)
            return false;
        position_ = 0;
        count_ = static_cast<size_t>(got);
        return true;
    }

    // Reads what comes within wait_ms, bytes left unread first, and drops the answers: the count read,
    // -1 when the line is gone, kCancelled when a pair of CAN came among them.
    long read_dropping_answers(int wait_ms)
    {
        if (position_ == count_ && !fill(wait_ms))
            return -1;
        const long got = static_cast<long>(count_ - position_);
        while (position_ < count_) {
            if (take(buffer_[position_++], false) == Reply::Cancelled)
                return kCancelled;
        }
        return got;
    }

    // One byte from the line: an answer, or console text passed on.  A lone CAN is noise: the board
    // gives up with five.
    std::optional<Reply> take(uint8_t byte, bool request_counts)
    {
        const bool pair_of_cancels = byte == CAN && last_was_cancel_;
        last_was_cancel_ = byte == CAN;
        const bool is_answer =
            byte == ACK || byte == NAK || byte == CAN || (byte == CRC_MODE && request_counts);
        if (is_answer)
            last_answer_at_ = Clock::now();
        if (pair_of_cancels)
            return Reply::Cancelled;
        if (byte == ACK)
            return Reply::Ack;
        if (byte == NAK)
            return Reply::Nak;
        if (byte == CRC_MODE && request_counts)
            return Reply::Request;
        if (byte != CAN)
            events_.console(std::span(&byte, 1));
        return std::nullopt;
    }

    SerialLine& line_;
    TransferEvents& events_;
    std::array<uint8_t, 256> buffer_{};
    size_t position_ = 0;
    size_t count_ = 0;
    bool last_was_cancel_ = false;
    Clock::time_point last_answer_at_ = Clock::now();
};

// Bytes onto the line unless the board has left it; what stopped them, if anything did.
std::optional<Reply> put(SerialLine& line, TransferEvents& events, std::span<const uint8_t> bytes)
{
    if (events.board_left())
        return Reply::Left;
    switch (line.write(bytes)) {
    case WriteResult::Done:
        return std::nullopt;
    case WriteResult::Stalled:
        return Reply::Stalled;
    case WriteResult::Stopped:
        return Reply::Interrupted;
    case WriteResult::Gone:
        break;
    }
    return Reply::Lost;
}

// After a block has been taken, the board's receiver skips CAN as noise and gives up on its own
// once the blocks stop; a pair or more ends the receivers that honour it.
void send_cancel(SerialLine& line, TransferEvents& events)
{
    const std::array<uint8_t, kCancelCount> cancels{CAN, CAN, CAN, CAN, CAN};
    put(line, events, cancels);
}

// Before any block has been taken, the board's receiver takes CAN for noise and asks for the file
// for ever; an end of transmission ends its wait with an empty file, which is never installed.  It
// answers the first EOT with NAK and completes on the second, or after five seconds of quiet: a run
// that is leaving at once sends the second without waiting.
void send_empty_end(SerialLine& line, Replies& replies, TransferEvents& events)
{
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kLastAnswerMs);
    if (put(line, events, std::span(&EOT, 1)))
        return;
    if (leaving_at_once()) {
        put(line, events, std::span(&EOT, 1));
        return;
    }
    // Requests sent before the receiver saw the EOT are passed over
    Reply reply = Reply::Request;
    while (reply == Reply::Request && Clock::now() < deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        reply = replies.next(static_cast<int>(left.count()), true);
    }
    if (reply == Reply::Nak)
        put(line, events, std::span(&EOT, 1));
}

Outcome outcome_of(Reply reply)
{
    switch (reply) {
    case Reply::Cancelled:
        return Outcome::ReceiverCancelled;
    case Reply::Interrupted:
        return Outcome::Interrupted;
    case Reply::Lost:
        return Outcome::LineLost;
    case Reply::Stalled:
        return Outcome::LineStalled;
    case Reply::Left:
        return Outcome::BoardLeft;
    default:
        return Outcome::TooManyRetries;
    }
}

// Waits for the receiver's first 'C'; what the board prints before it is console text.
Reply await_request(Replies& replies, int wait_ms)
{
    const Reply reply = replies.next(wait_ms, true);
    // Other requests queued behind the first would read as requests to send block 1 again
    replies.flush_text();
    return reply;
}

struct BlockSend {
    Reply reply;
    unsigned resends;
};

// One block (or the EOT, as a one-byte frame) until the receiver acknowledges it.
BlockSend send_until_acknowledged(SerialLine& line, Replies& replies, std::span<const uint8_t> frame,
                                  unsigned block, bool first, const Timing& timing, TransferEvents& events)
{
    unsigned resends = 0;
    for (unsigned tries = 0; tries < timing.max_tries; ++tries) {
        if (events.interrupted())
            return {Reply::Interrupted, resends};
        if (auto stop = replies.drop_waiting())
            return {*stop, resends};
        // A long settle over console text may have used the silence up
        if (replies.ms_before_silence(timing.silence_limit_ms) == 0)
            return {Reply::GoneQuiet, resends};
        if (auto stop = put(line, events, frame))
            return {*stop, resends};
        const Reply reply = replies.next(
            std::min(timing.reply_wait_ms, replies.ms_before_silence(timing.silence_limit_ms)), first);
        if (reply == Reply::Cancelled || reply == Reply::Interrupted || reply == Reply::Lost ||
            reply == Reply::Left)
            return {reply, resends};
        // With a copy sent again, the receiver may still be answering an earlier one, or the answer
        // that made the copy go was noise: the answer that counts is the one followed by quiet.  The
        // board drains the line before it answers a copy it already has.
        if (resends > 0 && (reply == Reply::Ack || reply == Reply::Nak)) {
            if (auto stop = replies.settle(timing.settle_ms))
                return {*stop, resends};
        }
        if (reply == Reply::Ack)
            return {Reply::Ack, resends};
        // The receiver answers the first EOT with NAK by design
        const bool is_eot = frame.size() == 1;
        if (is_eot && reply == Reply::Nak && tries == 0)
            continue;
        // An answer awaited after the operator's stop is not followed by another copy
        if (events.interrupted())
            return {Reply::Interrupted, resends};
        if (reply == Reply::Silence && replies.ms_before_silence(timing.silence_limit_ms) == 0)
            return {Reply::GoneQuiet, resends};
        ++resends;
        events.resent(block, reply == Reply::Nak       ? "NAK"
                             : reply == Reply::Request ? "asked again"
                                                       : "no answer");
    }
    return {Reply::TriesOut, resends};
}

}  // namespace

uint16_t crc16(std::span<const uint8_t> bytes)
{
    uint16_t crc = 0;
    for (uint8_t byte : bytes) {
        crc = static_cast<uint16_t>(crc ^ (byte << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>((crc & 0x8000) != 0 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

std::vector<BlockPlan> plan_blocks(uint64_t file_size)
{
    std::vector<BlockPlan> plan;
    uint64_t offset = 0;
    while (offset < file_size) {
        const size_t size = file_size - offset > kShortTail ? kLongBlock : kShortBlock;
        plan.push_back({offset, size});
        offset += size;
    }
    return plan;
}

std::vector<uint8_t> frame_block(uint8_t number, std::span<const uint8_t> data, size_t size)
{
    std::vector<uint8_t> frame;
    frame.reserve(size + 5);
    frame.push_back(size == kLongBlock ? STX : SOH);
    frame.push_back(number);
    frame.push_back(static_cast<uint8_t>(0xFF - number));
    frame.insert(frame.end(), data.begin(), data.end());
    frame.resize(3 + size, PAD);
    const uint16_t crc = crc16(std::span(frame).subspan(3, size));
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return frame;
}

Result send(SerialLine& line, std::span<const uint8_t> file, TransferEvents& events, const Timing& timing)
{
    Result result{Outcome::Sent, 0, 0};
    events.progress(0, file.size());
    Replies replies(line, events);
    const Reply request = await_request(replies, timing.start_wait_ms);
    if (request != Reply::Request) {
        result.outcome = request == Reply::Silence ? Outcome::NoReceiver : outcome_of(request);
        // Without a request nothing shows that a receiver listens at this speed: nothing is sent
        // but the end the operator asked for
        if (result.outcome == Outcome::Interrupted)
            send_empty_end(line, replies, events);
        replies.flush_text();
        return result;
    }
    const std::vector<BlockPlan> plan = plan_blocks(file.size());
    for (size_t index = 0; index <= plan.size(); ++index) {
        const bool is_eot = index == plan.size();
        std::vector<uint8_t> frame{EOT};
        if (!is_eot) {
            const BlockPlan& block = plan[index];
            const uint64_t length = std::min<uint64_t>(block.size, file.size() - block.offset);
            frame =
                frame_block(static_cast<uint8_t>(index + 1), file.subspan(block.offset, length), block.size);
        }
        const BlockSend sent = send_until_acknowledged(line, replies, frame, static_cast<unsigned>(index + 1),
                                                       index == 0 && !is_eot, timing, events);
        result.resends += sent.resends;
        if (sent.reply != Reply::Ack) {
            result.outcome = outcome_of(sent.reply);
            // A receiver silent for the silence limit is sent no end: it has given up by then, or is
            // no longer at this speed
            const bool giving_up = sent.reply == Reply::TriesOut || sent.reply == Reply::Interrupted;
            if (giving_up && index == 0)
                send_empty_end(line, replies, events);
            else if (giving_up)
                send_cancel(line, events);
            replies.flush_text();
            return result;
        }
        if (!is_eot) {
            result.acknowledged = std::min<uint64_t>(plan[index].offset + plan[index].size, file.size());
            events.progress(result.acknowledged, file.size());
        }
    }
    replies.flush_text();
    return result;
}

std::string describe(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Sent:
        return "sent";
    case Outcome::ReceiverCancelled:
        return std::string(phrase::GAVE_UP);
    case Outcome::TooManyRetries:
        return std::string(phrase::STOPPED_ANSWERING) + "; the transfer was given up";
    case Outcome::NoReceiver:
        return std::string(phrase::NEVER_ASKED);
    case Outcome::Interrupted:
        return std::string(stop_phrase());
    case Outcome::LineLost:
        return std::string(phrase::LINE_LOST);
    case Outcome::LineStalled:
        return std::string(phrase::ADAPTER_STALLED);
    case Outcome::BoardLeft:
        return std::string(phrase::RESTARTED_IN_TRANSFER);
    }
    return "unknown";
}

}  // namespace xmodem
