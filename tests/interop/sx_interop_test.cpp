// The receiver against a real XMODEM sender: lrzsz's sx on a pty, the board's serial port passed
// through to another pty, in real time.
//
// The test stands where the operator's terminal program stands: between the two ptys it relays the
// bytes and types the keys the receiver asks for, the carriage return before the transfer and the
// line feed after it.  sx runs before the receiver sends its first 'C', as a terminal program
// starts it, since it takes every 'C' already waiting on its line as a request to resend block 1.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "sim/board.h"
#include "xmodem/xmodem.h"

namespace {

// A pty pair with its far end raw, so the line discipline neither echoes nor edits the bytes.
struct Pty {
    int master = -1;
    int slave = -1;
    std::string path;

    Pty()
    {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
            throw std::runtime_error("no pty");
        path = ptsname(master);
        slave = open(path.c_str(), O_RDWR | O_NOCTTY);
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
    }
    ~Pty()
    {
        close(slave);
        close(master);
    }
};

bool write_all(int fd, const char* data, ssize_t length)
{
    while (length > 0) {
        ssize_t n = write(fd, data, static_cast<size_t>(length));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        length -= n;
    }
    return true;
}

// The operator's terminal: runs sx on one pty and relays it to the board's port on the other.
class Terminal {
public:
    Terminal(const std::vector<std::string>& sx_args)
    {
        sender_ = fork();
        if (sender_ == 0) {
            setsid();
            dup2(sx_side_.slave, 0);
            dup2(sx_side_.slave, 1);
            int quiet = open("/dev/null", O_WRONLY);
            dup2(quiet, 2);
            std::vector<char*> argv;
            for (const std::string& a : sx_args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        relay_ = std::thread([this] { relay(); });
    }
    ~Terminal()
    {
        stop_ = true;
        relay_.join();
        if (!sender_done_) {
            kill(sender_, SIGTERM);
            waitpid(sender_, nullptr, 0);
        }
    }
    const std::string& port_path() const { return board_side_.path; }
    int sender_status() const { return sender_status_; }

private:
    void relay()
    {
        bool board_spoke = false;
        auto last_key = std::chrono::steady_clock::now() - std::chrono::seconds(1);
        char bytes[4096];
        while (!stop_) {
            // Until the receiver's first byte, the operator hits Enter; once sx is done, the line
            // feed the receiver waits for.  Each is typed again until it is taken.
            auto now = std::chrono::steady_clock::now();
            if ((!board_spoke || sender_done_) && now - last_key > std::chrono::milliseconds(200)) {
                write_all(board_side_.master, sender_done_ ? "\n" : "\r", 1);
                last_key = now;
            }
            if (!sender_done_ && waitpid(sender_, &sender_status_, WNOHANG) == sender_)
                sender_done_ = true;
            pollfd fds[2] = {{board_side_.master, POLLIN, 0}, {sx_side_.master, POLLIN, 0}};
            if (poll(fds, 2, 20) <= 0)
                continue;
            if (fds[0].revents & POLLIN) {
                ssize_t n = read(board_side_.master, bytes, sizeof bytes);
                if (n > 0) {
                    board_spoke = true;
                    write_all(sx_side_.master, bytes, n);
                }
            }
            if (fds[1].revents & POLLIN) {
                ssize_t n = read(sx_side_.master, bytes, sizeof bytes);
                if (n > 0)
                    write_all(board_side_.master, bytes, n);
            }
        }
    }

    Pty board_side_;
    Pty sx_side_;
    pid_t sender_ = -1;
    std::atomic<bool> sender_done_{false};
    int sender_status_ = -1;
    std::atomic<bool> stop_{false};
    std::thread relay_;
};

std::string random_bytes(size_t size)
{
    std::mt19937 generator(static_cast<unsigned>(size));
    std::string bytes(size, '\0');
    for (char& b : bytes)
        b = static_cast<char>(generator());
    return bytes;
}

struct InteropCase {
    bool one_k;
    size_t size;
};

std::string name_of(const InteropCase& c)
{
    return std::string(c.one_k ? "Sx1k_" : "Sx128_") + std::to_string(c.size) + "Bytes";
}

void PrintTo(const InteropCase& c, std::ostream* os) { *os << name_of(c); }

std::string case_name(const testing::TestParamInfo<InteropCase>& info) { return name_of(info.param); }

class SxInterop : public testing::TestWithParam<InteropCase> {};

TEST_P(SxInterop, ReceivesTheFileFollowedOnlyByTheSendersPadding)
{
    const InteropCase& c = GetParam();
    sim::Board board;
    const std::string sent = random_bytes(c.size);
    board.write_file("/tmp/sent.bin", sent);
    std::vector<std::string> args = {"sx", "-q"};
    if (c.one_k)
        args.push_back("-k");
    args.push_back(board.host_path("/tmp/sent.bin"));

    Terminal terminal(args);
    board.serial.passthrough_path = terminal.port_path();
    board.real_limit_seconds = 120;
    sim::Run r = board.run([] { return Xmodem1K("/tmp/image"); });

    ASSERT_EQ(r.end, sim::End::Returned) << r.err;
    std::string received = board.read_file("/tmp/image").value_or("<none>");
    // The sender pads its last block of 128 bytes with 0x1A; 1024-byte blocks carry whole data.
    const size_t padded = (c.size + 127) / 128 * 128;
    EXPECT_EQ(r.value, static_cast<int>(padded));
    ASSERT_EQ(received.size(), padded);
    EXPECT_TRUE(received.compare(0, sent.size(), sent) == 0);
    EXPECT_EQ(received.substr(sent.size()), std::string(padded - c.size, '\x1a'));
    EXPECT_NE(r.err.find("All done\n"), std::string::npos);
}

std::vector<InteropCase> cases()
{
    std::vector<InteropCase> all;
    for (bool one_k : {true, false})
        for (size_t size : {0, 1, 127, 128, 1023, 1024, 1025, 3 * 1024 * 1024 + 517})
            all.push_back({one_k, size});
    return all;
}

INSTANTIATE_TEST_SUITE_P(Files, SxInterop, testing::ValuesIn(cases()), case_name);

}  // namespace
