#include "rx_receiver.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Longer than rx takes from writing an answer to flushing its input, even on a busy machine; on a
// real line the answer's own time on the wire mostly covers that.
constexpr std::chrono::milliseconds kAnswerDelay{10};

}  // namespace

RxReceiver::RxReceiver(const std::string& file, std::optional<BlockDamage> damage) : damage_(damage)
{
    int answers[2];
    if (pipe2(answers, O_CLOEXEC) != 0)
        throw std::runtime_error("no pipe");
    rx_ = fork();
    if (rx_ == 0) {
        setsid();
        dup2(rx_side_.slave, 0);
        dup2(answers[1], 1);
        const int quiet = open("/dev/null", O_WRONLY);
        dup2(quiet, 2);
        // rx refuses a path that leaves its working directory
        const std::filesystem::path path(file);
        if (chdir(path.parent_path().c_str()) == 0)
            execlp("rx", "rx", "--with-crc", "--binary", "--quiet", path.filename().c_str(),
                   static_cast<char*>(nullptr));
        _exit(127);
    }
    close(answers[1]);
    answers_ = answers[0];
    // A relay blocked on a full pty once rx is gone could not be stopped
    fcntl(rx_side_.master, F_SETFL, fcntl(rx_side_.master, F_GETFL) | O_NONBLOCK);
    relay_ = std::thread([this] { relay(); });
}

RxReceiver::~RxReceiver()
{
    wait(0);
    stop_ = true;
    relay_.join();
    close(answers_);
}

int RxReceiver::wait(int timeout_ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!status_) {
        int status = 0;
        if (waitpid(rx_, &status, WNOHANG) == rx_) {
            status_ = status;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(rx_, SIGTERM);
            waitpid(rx_, nullptr, 0);
            status_ = -1;
            break;
        }
        usleep(10000);
    }
    return *status_;
}

std::vector<uint8_t> RxReceiver::sent() const
{
    std::lock_guard<std::mutex> lock(sent_mutex_);
    return sent_;
}

void RxReceiver::relay()
{
    uint8_t bytes[4096];
    pollfd fds[2] = {{sender_side_.master, POLLIN, 0}, {answers_, POLLIN, 0}};
    while (!stop_) {
        if (poll(fds, 2, 20) <= 0)
            continue;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = read(sender_side_.master, bytes, sizeof bytes);
            if (n > 0)
                pass_to_rx(bytes, static_cast<size_t>(n));
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = read(answers_, bytes, sizeof bytes);
            if (n > 0) {
                // rx throws its input away just after each answer: what the sender sends back
                // sooner would be lost with it
                std::this_thread::sleep_for(kAnswerDelay);
                write_all(sender_side_.master, bytes, static_cast<size_t>(n));
            } else
                fds[1].fd = -1;  // rx has ended
        }
    }
}

void RxReceiver::pass_to_rx(uint8_t* bytes, size_t count)
{
    {
        std::lock_guard<std::mutex> lock(sent_mutex_);
        sent_.insert(sent_.end(), bytes, bytes + count);
    }
    apply_damage(bytes, count);
    write_all(rx_side_.master, bytes, count);
}

void RxReceiver::apply_damage(uint8_t* bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        if (frame_left_ == 0) {
            // STX frames 1024 bytes of data, SOH 128; anything else goes alone (EOT, CAN)
            frame_left_ = bytes[i] == 0x02 ? 1029 : bytes[i] == 0x01 ? 133 : 1;
            frame_position_ = 0;
            frame_number_ = -1;
        }
        if (frame_position_ == 1)
            frame_number_ = bytes[i];
        if (damage_ && frame_number_ == damage_->block && frame_position_ == damage_->offset) {
            bytes[i] ^= 0x01;
            damage_.reset();
        }
        ++frame_position_;
        --frame_left_;
    }
}

void RxReceiver::write_all(int fd, const uint8_t* bytes, size_t count)
{
    while (count > 0 && !stop_) {
        const ssize_t n = write(fd, bytes, count);
        if (n > 0) {
            bytes += n;
            count -= static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return;
        pollfd room{fd, POLLOUT, 0};
        poll(&room, 1, 20);
    }
}
