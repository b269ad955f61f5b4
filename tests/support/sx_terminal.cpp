#include "sx_terminal.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

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

}  // namespace

Pty::Pty()
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

Pty::~Pty()
{
    close(slave);
    close(master);
}

Terminal::Terminal(const std::vector<std::string>& sx_args)
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

Terminal::~Terminal()
{
    stop_ = true;
    relay_.join();
    if (!sender_done_) {
        kill(sender_, SIGTERM);
        waitpid(sender_, nullptr, 0);
    }
}

void Terminal::relay()
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
