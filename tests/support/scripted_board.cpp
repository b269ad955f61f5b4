#include "tests/support/scripted_board.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include <utility>

#include "tests/support/xmodem_bytes.h"

namespace {

const std::string kRescueEntered = "Entering Rescue Mode.\r\n";
const std::string kSpeedRequest = "       Change the baud rate to 115200 bps and hit the <ENTER> key\r\n"
                                  "       before initiating the download.\r\n";
const std::string kSpeedBack = "       Change the baud rate back to 9600 bps, hit the <ENTER> key\r\n";
const std::string kStartReminder =
    "\r\n    ... Waiting for the <Enter> key to be hit before the download can start...\r\r\n";
const std::string kEndReminder = "\r\n    ... Waiting for the <ENTER> key to be hit...\r\r\n";
const std::string kSlotQuestionStart = "Install image as image 1 or 2";

// Thrown through the board's program when the board is taken away, wherever it waits
struct Unplugged {};

std::string frame_name(const std::vector<uint8_t>& frame)
{
    char name[16];
    if (frame[0] == kSoh || frame[0] == kStx)
        snprintf(name, sizeof name, "%s %02X", frame[0] == kSoh ? "SOH" : "STX",
                 frame.size() > 1 ? frame[1] : 0);
    else if (frame[0] == kEot)
        snprintf(name, sizeof name, "EOT");
    else if (frame[0] == kCan)
        snprintf(name, sizeof name, "CAN");
    else
        snprintf(name, sizeof name, "?%02X", frame[0]);
    return name;
}

size_t frame_length(uint8_t header) { return header == kSoh ? 133 : header == kStx ? 1029 : 1; }

// One bit at a time, independent of the sender's table
uint16_t crc16(const uint8_t* data, size_t length)
{
    uint16_t crc = 0;
    for (size_t i = 0; i < length; ++i) {
        crc ^= static_cast<uint16_t>(data[i] << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<uint16_t>(crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

bool intact(const std::vector<uint8_t>& frame)
{
    const size_t size = frame.size();
    return size == frame_length(frame[0]) && frame[1] + frame[2] == 255 &&
           crc16(frame.data() + 3, size - 5) == (frame[size - 2] << 8 | frame[size - 1]);
}

std::string formatted(const char* format, int number)
{
    char text[48];
    snprintf(text, sizeof text, format, number);
    return text;
}

int ms_left(std::chrono::steady_clock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::max<int64_t>(left.count(), 0));
}

}  // namespace

ScriptedBoard::ScriptedBoard(BoardScript script, std::function<void(int)> raise_signal)
    : script_(std::move(script)), raise_signal_(std::move(raise_signal)), phase_(script_.starts_in)
{
    if (!raise_signal_)
        raise_signal_ = [](int signal) { kill(getpid(), signal); };
    fcntl(pty_.master, F_SETFL, fcntl(pty_.master, F_GETFL) | O_NONBLOCK);
    thread_ = std::thread([this] { run(); });
}

ScriptedBoard::~ScriptedBoard()
{
    unplugged_ = true;
    thread_.join();
}

bool ScriptedBoard::wait_for(BoardPhase phase, double seconds) const
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (phase_ != phase) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<Heard> ScriptedBoard::heard() const
{
    std::lock_guard lock(record_lock_);
    return heard_;
}

std::vector<std::string> ScriptedBoard::frames() const
{
    std::vector<std::string> frames;
    for (const Heard& h : heard()) {
        if (h.phase == BoardPhase::Receiving)
            frames.push_back(h.what);
    }
    return frames;
}

std::string ScriptedBoard::slot_answer() const
{
    std::lock_guard lock(record_lock_);
    return slot_answer_;
}

bool ScriptedBoard::heard_since_restart() const
{
    std::lock_guard lock(record_lock_);
    if (!restarted_at_)
        return false;
    for (const Heard& h : heard_) {
        if (h.seconds >= *restarted_at_)
            return true;
    }
    return false;
}

void ScriptedBoard::run()
{
    try {
        if (script_.loopback)
            stay(BoardPhase::Quiet);
        if (script_.starts_in == BoardPhase::StartWait || script_.starts_in == BoardPhase::Receiving) {
            board_speed_ = 115200;
            if (script_.starts_in == BoardPhase::StartWait)
                start_wait();
            else
                receive();
        } else {
            power_on();
        }
        menu();
    } catch (const Unplugged&) {
    }
}

void ScriptedBoard::power_on()
{
    phase_ = BoardPhase::PoweringOn;
    // Keys typed into the silence wait in the line for the boot loader, which takes them as a stop
    if (script_.silent_seconds > 0)
        listen(static_cast<int>(script_.silent_seconds * 1000));
    boot(script_.boot, script_.countdown ? std::optional(script_.countdown_seconds) : std::nullopt, 0);
}

void ScriptedBoard::boot(const std::string& text, std::optional<int> countdown, double since)
{
    say(text);
    if (countdown) {
        say(formatted("Hit any key to stop autoboot: %2d ", *countdown));
        listen(0);
        for (int left = *countdown; left > 0 && !heard_since(since); --left) {
            listen(1000);
            if (!heard_since(since))
                say(formatted("\b\b\b%2d ", left - 1));
        }
        if (heard_since(since)) {
            say("\r\n=> ");
            stay(BoardPhase::LoaderPrompt);
        }
        say("\r\n" + kKernel);
    }
    if (!script_.shows_menu)
        stay(BoardPhase::Quiet);
    if (countdown || !text.empty())
        say(kRescueEntered + kMenu);
}

void ScriptedBoard::menu()
{
    while (true) {
        phase_ = BoardPhase::Menu;
        uint8_t key = 0;
        if (!read_key(key, 1000))
            continue;
        const char choice = static_cast<char>(toupper(key));
        if (choice == 'X') {
            say("\r\n");
            download();
        } else if (choice == 'R') {
            say("\r\n" + script_.after_reset);
            stay(BoardPhase::Quiet);
        } else if (choice == 'E') {
            say("\r\n");
            stay(BoardPhase::Quiet);
        } else if (choice == 'U' || choice == 'D') {
            say(formatted("\r\nUnknown option %d. Quitting\r\n", choice) + kMenu);
        } else {
            say(std::string("unknown option \"") + choice + "\". Please try again\r\n\r\nOption? : ");
        }
    }
}

void ScriptedBoard::download()
{
    say("Running xmodem rescue.....\r\nInit serial\r\n");
    if (script_.download_port_missing) {
        say("Can't open serial port!: No such file or directory\r\nInit serial done\r\n" + kMenu);
        return;
    }
    say(kSpeedRequest);
    board_speed_ = 115200;
    if (script_.signal_at_x != 0)
        raise_signal_(script_.signal_at_x);
    start_wait();
}

void ScriptedBoard::start_wait()
{
    phase_ = BoardPhase::StartWait;
    await_key('\r', script_.lose_start_enter, kStartReminder);
    receive();
}

void ScriptedBoard::await_key(char wanted, bool lose_first, const std::string& reminder)
{
    auto last_reminder = std::chrono::steady_clock::now();
    while (true) {
        uint8_t key = 0;
        if (read_key(key, ms_left(last_reminder + std::chrono::milliseconds(script_.reminder_ms)))) {
            if (key == static_cast<uint8_t>(wanted) && !lose_first)
                return;
            lose_first = lose_first && key != static_cast<uint8_t>(wanted);
            continue;
        }
        say(reminder);
        last_reminder = std::chrono::steady_clock::now();
    }
}

void ScriptedBoard::receive()
{
    phase_ = BoardPhase::Receiving;
    if (!script_.answers.empty())
        play_answers();
    say("C");
    int accepted = 0;
    int retries = 0;
    uint8_t last = 0;
    bool header_seen = false;
    while (true) {
        const std::optional<std::vector<uint8_t>> frame = read_frame(header_seen ? 5000 : 1000);
        bool failed = !frame;
        if (frame)
            hear(frame_name(*frame));
        const uint8_t header = frame ? (*frame)[0] : 0;
        if (header == kEot) {
            say("EOT\r\n" + std::string(1, kNak));
            const std::optional<std::vector<uint8_t>> next = read_frame(5000);
            if (next)
                hear(frame_name(*next));
            if (!next || (*next)[0] == kEot)
                return finish_transfer(true, accepted > 0);
            failed = (*next)[0] != kSoh && (*next)[0] != kStx &&
                     (accepted > 0 || ((*next)[0] != kAck && (*next)[0] != kCan));
        } else if (header == kSoh || header == kStx) {
            header_seen = true;
            const uint8_t number = (*frame)[1];
            if (!intact(*frame) || (number == 0 && accepted == 0)) {
                failed = true;
            } else if (number == static_cast<uint8_t>(last + 1)) {
                last = number;
                retries = 0;
                after_block(++accepted);
                say(std::string(1, kAck));
            } else if (number != last) {
                return finish_transfer(false, false);
            } else {
                // A repeat of the block it has is drained for 1 s, then acknowledged again
                drain(1000);
                say(std::string(1, kAck));
            }
        } else if (header == kCan && accepted == 0) {
            const std::optional<std::vector<uint8_t>> second = read_frame(3000);
            if (second)
                hear(frame_name(*second));
            failed = !second || ((*second)[0] & 0x7F) != kCan;
        } else if (header == kAck && accepted == 0) {
            failed = true;
        }
        if (!failed)
            continue;
        if (accepted == 0) {
            say("C");
            continue;
        }
        if (++retries >= 3)
            return finish_transfer(false, false);
        drain(script_.drain_ms);
        say(std::string(1, kNak));
    }
}

void ScriptedBoard::play_answers()
{
    const std::vector<FrameAnswer>& answers = script_.answers;
    size_t next = 0;
    play(answers[next++]);
    // Once the script is played out, a short quiet ends it: the sender has nothing more to say
    while (auto frame = read_frame(next < answers.size() ? 3000 : 700)) {
        hear(frame_name(*frame));
        if (next < answers.size())
            play(answers[next++]);
    }
    stay(BoardPhase::Quiet);
}

void ScriptedBoard::play(const FrameAnswer& answer)
{
    if (answer.stop_first)
        operator_stopped_ = true;
    if (answer.board_leaves)
        board_left_ = true;
    pause(answer.delay_ms);
    say(std::string(answer.before_drain.begin(), answer.before_drain.end()));
    drain(answer.drain_ms);
    say(std::string(answer.bytes.begin(), answer.bytes.end()));
}

void ScriptedBoard::after_block(int accepted)
{
    if (accepted == script_.restart_after_block)
        restart();
    if (accepted == script_.stall_after_block)
        stay(BoardPhase::Stalled);
    if (accepted == script_.noise_after_block)
        say(script_.noise);
}

void ScriptedBoard::restart()
{
    // What came before the restart is not heard after it
    while (auto frame = read_frame(0))
        hear(frame_name(*frame));
    phase_ = BoardPhase::Restarting;
    board_speed_ = 9600;
    const double now = seconds();
    {
        std::lock_guard lock(record_lock_);
        restarted_at_ = now;
    }
    boot(script_.restart_boot, script_.restart_countdown_seconds, now);
    menu();
}

void ScriptedBoard::finish_transfer(bool completed, bool file_received)
{
    if (completed) {
        say(std::string(1, kAck) + "All done\r\n");
    } else {
        say(std::string(5, kCan));
        drain(script_.drain_ms);
    }
    say(kSpeedBack);
    board_speed_ = 9600;
    phase_ = BoardPhase::SwitchBackWait;
    await_key('\n', false, kEndReminder);
    // The installer runs only for a file of at least one byte
    if (!completed || !file_received) {
        say(kMenu);
        return;
    }
    if (script_.signal_at_install != 0)
        raise_signal_(script_.signal_at_install);
    say(script_.installer);
    if (script_.installer.find(kSlotQuestionStart) != std::string::npos)
        slot_question();
}

// The installer's line editor: printable keys echoed, a delete redrawn, the line ended by CR or LF
void ScriptedBoard::slot_question()
{
    phase_ = BoardPhase::SlotQuestion;
    bool lose_enter = script_.lose_slot_enter;
    std::string keys;
    std::string line;
    while (true) {
        uint8_t key = 0;
        if (!read_key(key, 1000))
            continue;
        if ((key == '\r' || key == '\n') && lose_enter) {
            lose_enter = false;
            continue;
        }
        keys += static_cast<char>(key);
        if (key == '\r' || key == '\n')
            break;
        if (key == 0x08 || key == 0x7F) {
            if (!line.empty()) {
                line.pop_back();
                say(std::string("\b\0 \b", 4));
            }
        } else if (key >= 0x20) {
            line += static_cast<char>(key);
            say(std::string(1, static_cast<char>(key)));
        } else {
            say("\a");
        }
    }
    {
        std::lock_guard lock(record_lock_);
        slot_answer_ = keys;
    }
    say("\r\n" + script_.after_slot);
}

void ScriptedBoard::stay(BoardPhase phase)
{
    phase_ = phase;
    while (true) {
        if (phase == BoardPhase::Stalled) {
            pause(1000);
            continue;
        }
        uint8_t key = 0;
        if (read_key(key, 1000) && script_.loopback)
            say(std::string(1, static_cast<char>(key)));
    }
}

bool ScriptedBoard::read_byte(uint8_t& byte, int wait_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    while (true) {
        if (unplugged_)
            throw Unplugged{};
        if (read(pty_.master, &byte, 1) == 1) {
            ++typed_bytes_;
            return true;
        }
        const int left = ms_left(deadline);
        if (left == 0)
            return false;
        pollfd ready{pty_.master, POLLIN, 0};
        poll(&ready, 1, std::min(left, 50));
    }
}

bool ScriptedBoard::read_key(uint8_t& key, int wait_ms)
{
    if (!read_byte(key, wait_ms))
        return false;
    hear(std::string(1, static_cast<char>(key)));
    return true;
}

std::optional<std::vector<uint8_t>> ScriptedBoard::read_frame(int wait_ms)
{
    uint8_t byte = 0;
    if (!read_byte(byte, wait_ms))
        return std::nullopt;
    std::vector<uint8_t> frame{byte};
    const size_t length = frame_length(byte);
    while (frame.size() < length && read_byte(byte, 1000))
        frame.push_back(byte);
    return frame;
}

void ScriptedBoard::listen(int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    uint8_t key = 0;
    while (read_key(key, ms_left(until))) {
    }
}

void ScriptedBoard::drain(int quiet_ms)
{
    if (quiet_ms <= 0)
        return;
    while (auto frame = read_frame(quiet_ms))
        hear(std::string("(").append(frame_name(*frame)).append(")"));
}

void ScriptedBoard::pause(int ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until) {
        if (unplugged_)
            throw Unplugged{};
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(ms, 20)));
    }
}

void ScriptedBoard::say(const std::string& said)
{
    // A line no program has set up yet (the pty's own speed) garbles nothing
    const unsigned line = line_speed();
    const bool set_up = line == 9600 || line == 115200;
    const std::string text = script_.wrong_speed_reads_as_nul && set_up && line != board_speed_
                                 ? std::string(said.size(), '\0')
                                 : said;
    size_t done = 0;
    while (done < text.size()) {
        if (unplugged_)
            throw Unplugged{};
        const ssize_t n = write(pty_.master, text.data() + done, text.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        pollfd room{pty_.master, POLLOUT, 0};
        poll(&room, 1, 50);
    }
}

void ScriptedBoard::hear(std::string what)
{
    std::lock_guard lock(record_lock_);
    heard_.push_back({phase_, seconds(), std::move(what)});
}

bool ScriptedBoard::heard_since(double since) const
{
    std::lock_guard lock(record_lock_);
    return !heard_.empty() && heard_.back().seconds >= since;
}

double ScriptedBoard::seconds() const
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - powered_on_).count();
}

unsigned ScriptedBoard::line_speed() const
{
    termios settings{};
    tcgetattr(pty_.slave, &settings);
    const speed_t speed = cfgetospeed(&settings);
    return speed == B9600 ? 9600 : speed == B115200 ? 115200 : 0;
}
