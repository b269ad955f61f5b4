// The XMODEM-1K receiver fed a fuzzed conversation by a sender on the simulated serial port, in
// virtual time.  The sender's steps answer the receiver's bytes or follow one another after a
// delay; a step may ask for its bytes to be framed as a well-formed block.  Whatever the receiver
// keeps must be a run of well-formed blocks that the sender really sent, numbered on from 1, and
// the result must be that file's size or 0 for a transfer given up.  The receiver must always come
// to an end once it has accepted a block; before that it may wait for a sender for ever, as it is
// meant to.
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/os.h"
#include "tests/support/sender.h"
#include "xmodem/xmodem.h"

namespace {

constexpr uint8_t kCr = 0x0D;
constexpr int kSenderGaveUp = 77;
constexpr uint64_t kSecond = 1'000'000;
// The receiver is never silent this long but while it waits for the operator.
constexpr uint64_t kOperatorWait = 12 * kSecond;

struct Step {
    int trigger;  // the receiver's byte that fires the step; -1: fires after the step before
    uint64_t delay_us;
    std::string bytes;
};

// The sender and its operator.  The operator hits Enter to start, and again whenever both ends
// have been silent for a while, as a person waiting for the prompt would.  A receiver that never
// acknowledged nor cancelled anything while the sender has long had nothing more to say is still
// waiting for a sender, which it may do for ever: the sender then ends the run.
class FuzzedSender : public sim::SerialPeer {
public:
    FuzzedSender(std::vector<Step> steps, uint64_t byte_time_us)
        : steps_(std::move(steps)), byte_time_us_(byte_time_us)
    {}

    void receive(uint8_t byte, uint64_t now_us) override
    {
        last_heard_us_ = now_us;
        answered_ = answered_ || byte == kAck || byte == kCan;
        if (queue_.empty() && next_ < steps_.size() && steps_[next_].trigger == byte)
            fire(now_us);
    }

    std::optional<uint8_t> send(uint64_t now_us) override
    {
        // A receiver silent this long after it acknowledged or cancelled something waits for its
        // operator, reading a byte a second: the operator stops the sender before hitting Enter.
        if (answered_ && now_us - last_heard_us_ >= kOperatorWait) {
            queue_.clear();
            next_ = steps_.size();
        }
        if (queue_.empty() && next_ < steps_.size() && steps_[next_].trigger < 0)
            fire(now_us);
        if (!queue_.empty()) {
            if (queue_.front().first > now_us)
                return std::nullopt;
            const uint8_t byte = queue_.front().second;
            queue_.pop_front();
            last_sent_us_ = now_us;
            return byte;
        }
        if (!answered_ && now_us - last_sent_us_ >= 20 * kSecond)
            os::exit(kSenderGaveUp);
        if (now_us - last_heard_us_ >= kOperatorWait && now_us - last_sent_us_ >= kOperatorWait) {
            last_sent_us_ = now_us;
            return kCr;
        }
        return std::nullopt;
    }

private:
    void fire(uint64_t now_us)
    {
        const Step& step = steps_[next_++];
        uint64_t at = std::max(now_us, line_free_us_) + step.delay_us;
        for (unsigned char b : step.bytes) {
            queue_.emplace_back(at, b);
            at += byte_time_us_;
        }
        line_free_us_ = at;
        last_sent_us_ = now_us;
    }

    std::vector<Step> steps_;
    uint64_t byte_time_us_;
    size_t next_ = 0;
    std::deque<std::pair<uint64_t, uint8_t>> queue_;
    uint64_t line_free_us_ = 0;
    uint64_t last_heard_us_ = 0;
    uint64_t last_sent_us_ = 0;
    bool answered_ = false;
};

const uint64_t kDelays[] = {0, 10'000, 100'000, 500'000, kSecond, 2 * kSecond, 4 * kSecond, 6 * kSecond};
const int kTriggers[] = {-1, kStart, kAck, kNak};

std::vector<Step> steps_from(fuzz::Input& in)
{
    std::vector<Step> steps{{-1, 500'000, std::string(1, static_cast<char>(kCr))}};
    while (!in.empty() && steps.size() < 64) {
        const uint8_t control = in.byte();
        const size_t length = in.byte();
        Step step{kTriggers[control & 3], kDelays[(control >> 2) & 7], {}};
        if (control & 0x20) {
            const uint8_t number = in.byte();
            step.bytes = as_text(frame(number, padded(in.bytes(length), (control & 0x40) ? 128 : 1024)));
        } else {
            step.bytes = in.bytes(length);
        }
        steps.push_back(std::move(step));
    }
    return steps;
}

// The well-formed blocks anywhere in what the sender sent: number -> the data they carried.
std::map<uint8_t, std::set<std::string>> blocks_sent(const std::vector<Step>& steps)
{
    std::string wire;
    for (const Step& s : steps)
        wire += s.bytes;
    std::map<uint8_t, std::set<std::string>> blocks;
    for (size_t at = 0; at < wire.size(); ++at) {
        const uint8_t header = static_cast<uint8_t>(wire[at]);
        if (header != kSoh && header != kStx)
            continue;
        const size_t size = header == kSoh ? 128 : 1024;
        if (at + 3 + size + 2 > wire.size())
            continue;
        const uint8_t number = static_cast<uint8_t>(wire[at + 1]);
        if (static_cast<uint8_t>(wire[at + 2]) != 255 - number)
            continue;
        const std::string data = wire.substr(at + 3, size);
        const uint16_t crc = crc16_bitwise(Bytes(data.begin(), data.end()));
        if (static_cast<uint8_t>(wire[at + 3 + size]) == crc >> 8 &&
            static_cast<uint8_t>(wire[at + 4 + size]) == (crc & 0xFF))
            blocks[number].insert(data);
    }
    return blocks;
}

// Whether file from at on is made of sent blocks numbered on from number.
bool made_of_blocks(const std::string& file, size_t at, uint8_t number,
                    const std::map<uint8_t, std::set<std::string>>& blocks, int depth = 0)
{
    if (at == file.size())
        return true;
    auto found = blocks.find(number);
    if (found == blocks.end() || depth > 4096)
        return false;
    for (size_t size : {size_t{1024}, size_t{128}}) {
        if (at + size <= file.size() && found->second.count(file.substr(at, size)) != 0 &&
            made_of_blocks(file, at + size, static_cast<uint8_t>(number + 1), blocks, depth + 1))
            return true;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const uint64_t byte_time_us = (in.byte() & 1) ? 87 : 0;
    const std::vector<Step> steps = steps_from(in);

    sim::Board& board = fuzz::board();
    board.serial.peer = std::make_shared<FuzzedSender>(steps, byte_time_us);
    board.virtual_limit_us = 3600 * kSecond;
    board.write_file("/tmp/image", "");

    sim::Run r = fuzz::run([] { return static_cast<int>(Xmodem1K("/tmp/image")); });
    const std::string file = board.read_file("/tmp/image").value_or("");
    if (r.end == sim::End::Exited) {
        fuzz::require(r.value == kSenderGaveUp, "only the sender ends the run", &r);
        fuzz::require(file.empty(), "a receiver still waiting for a sender has kept nothing", &r);
        return 0;
    }
    fuzz::require(r.end == sim::End::Returned, "the transfer comes to an end", &r);
    fuzz::require(r.value == 0 || r.value == static_cast<int>(file.size()),
                  "the result is the file's size or 0", &r);
    fuzz::require(file.size() % 128 == 0, "the file is whole blocks", &r);
    fuzz::require(made_of_blocks(file, 0, 1, blocks_sent(steps)), "the file is the sent blocks in order", &r);
    return 0;
}
