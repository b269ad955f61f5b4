// The simulated board keeps the promises the module tests rely on: a fresh process per run, a
// board that outlives it, NOR semantics, and faithful records of what the program did.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <linux/ethtool.h>
#include <linux/i2c-dev.h>
#include <linux/sockios.h>
#include <mtd/mtd-user.h>
#include <net/if.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <vector>

#include "platform/os.h"
#include "sim/board.h"
#include "tests/support/bytes.h"
#include "tests/support/link_states.h"

using ::testing::ElementsAre;

namespace {

int g_runs_seen = 0;  // a module-style global: every run must find it at its initial value

int open_flash() { return os::open("/dev/mtd0", O_RDWR | O_SYNC); }

TEST(SimBoard, EachRunStartsFreshWhileTheBoardKeepsItsState)
{
    sim::Board board;
    for (int i = 0; i < 2; ++i) {
        sim::Run r = board.run([] {
            ++g_runs_seen;
            int fd = open_flash();
            uint8_t byte = 0x5A;
            os::pwrite(fd, &byte, 1, 0x100);
            return g_runs_seen;
        });
        EXPECT_EQ(r.end, sim::End::Returned);
        EXPECT_EQ(r.value, 1);
    }
    EXPECT_EQ(g_runs_seen, 0);
    EXPECT_EQ(board.flash.bytes(0x100, 1)[0], 0x5A);
}

// Erases go by whole blocks within the size the device reports.
TEST(SimBoard, FlashWritesOnlyClearBitsAndEraseSetsThemPerBlock)
{
    sim::Board board;
    board.flash.reported_size = 0x2000000;
    board.flash.load(0x20000, {0xF0});
    sim::Run r = board.run([] {
        int fd = open_flash();
        uint8_t byte = 0x3C;
        os::pwrite(fd, &byte, 1, 0x20000);
        erase_info_user misaligned{0x20001, 0x20000};
        erase_info_user past_the_device{0x2000000, 0x20000};
        int refused = os::ioctl(fd, MEMERASE, &misaligned) + os::ioctl(fd, MEMERASE, &past_the_device);
        erase_info_user block{0x40000, 0x20000};
        os::ioctl(fd, MEMERASE, &block);
        return refused;
    });
    EXPECT_EQ(r.value, -2);
    EXPECT_EQ(board.flash.bytes(0x20000, 1)[0], 0x30);
    sim::FlashCounters c = board.flash.counters();
    EXPECT_EQ(c.writes, 1u);
    EXPECT_EQ(c.erases, 3u);
}

TEST(SimBoard, FlashFaultsHitTheNamedOperation)
{
    struct Case {
        sim::FlashFault fault;
        std::vector<int> results;  // three one-byte reads at 0, 0x1000, 0x2000
    };
    const Case cases[] = {
        {{sim::FlashOp::Read, 2, std::nullopt}, {1, -1, 1}},
        {{sim::FlashOp::Read, 0, 0x2000}, {1, 1, -1}},
        {{sim::FlashOp::Write, 1, std::nullopt}, {1, 1, 1}},
    };
    for (const Case& c : cases) {
        sim::Board board;
        board.flash.faults = {c.fault};
        sim::Run r = board.run([] {
            int fd = open_flash();
            int code = 0;
            for (off_t at : {0x0, 0x1000, 0x2000}) {
                uint8_t byte;
                code = code * 4 + static_cast<int>(os::pread(fd, &byte, 1, at)) + 1;
            }
            return code;
        });
        int expected = 0;
        for (int result : c.results)
            expected = expected * 4 + result + 1;
        EXPECT_EQ(r.value, expected);
    }
}

TEST(SimBoard, PowerCutStopsTheRunAndKeepsTheFlashAsItWas)
{
    sim::Board board;
    board.flash.power_cut_after_write = 2;
    sim::Run r = board.run([] {
        int fd = open_flash();
        uint8_t zero = 0;
        for (off_t at = 0; at < 4; ++at)
            os::pwrite(fd, &zero, 1, at);
        return 0;
    });
    EXPECT_EQ(r.end, sim::End::PowerCut);
    EXPECT_THAT(board.flash.bytes(0, 4), ElementsAre(0, 0, 0xFF, 0xFF));
}

// Transfers and erases of several MiB keep NOR semantics over their whole range.
TEST(SimBoard, LargeWritesAndErasesReachEveryByte)
{
    sim::Board board;
    sim::Run r = board.run([] {
        int fd = open_flash();
        const Bytes data = pattern(3u << 20);
        erase_info_user erase{0x00400000, 0x00400000};
        os::ioctl(fd, MEMERASE, &erase);
        os::pwrite(fd, data.data(), data.size(), 0x00400001);
        Bytes back(data.size());
        os::pread(fd, back.data(), back.size(), 0x00400001);
        return back == data ? 1 : 0;
    });
    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(board.flash.bytes(0x00400000, 1)[0], 0xFF);
    EXPECT_EQ(board.flash.bytes(0x00400001, 2), (std::vector<uint8_t>{0x00, 0x07}));
    EXPECT_EQ(board.flash.bytes(0x00700001, 1)[0], 0xFF);
    EXPECT_EQ(board.flash.counters().bytes_erased, 0x00400000u);
}

TEST(SimBoard, EepromAnswersOnlyWhileTheCpldGateIsSet)
{
    sim::Board board;
    board.i2c.eeprom()[1] = 2;
    auto read_slot = [] {
        int bus = os::open("/dev/i2c-0", O_RDWR);
        os::ioctl(bus, I2C_SLAVE, 0x54ul);
        return os::smbus_read_byte_data(bus, 1);
    };
    EXPECT_EQ(board.run(read_slot).value, -1);
    EXPECT_EQ(board.i2c.gate_refusals(), 1u);
    board.i2c.cpld()[20] = 0x04;
    EXPECT_EQ(board.run(read_slot).value, 2);
}

TEST(SimBoard, ConsoleDeliversKeysInterruptsAndEndOfInput)
{
    sim::Board board;
    board.console.keys("a").interrupt().keys("b");
    sim::Run r = board.run([] {
        static volatile sig_atomic_t interrupted = 0;
        struct sigaction action {};
        action.sa_handler = [](int) { interrupted = 1; };
        os::sigaction(SIGINT, &action, nullptr);
        std::string seen;
        for (int i = 0; i < 4; ++i) {
            char key = 0;
            ssize_t n = os::read(0, &key, 1);
            seen += n == 1 ? std::string(1, key) : n == 0 ? "<end>" : errno == EINTR ? "<intr>" : "<err>";
        }
        std::printf("%s %d\n", seen.c_str(), static_cast<int>(interrupted));
        return 0;
    });
    EXPECT_EQ(r.out, "a<intr>b<end> 1\n");
}

TEST(SimBoard, ASignalBeforeAReadLeavesTheReadItsKey)
{
    sim::Board board;
    board.console.signal().keys("k");
    sim::Run r = board.run([] {
        static volatile sig_atomic_t interrupted = 0;
        struct sigaction action {};
        action.sa_handler = [](int) { interrupted = 1; };
        os::sigaction(SIGINT, &action, nullptr);
        char key = 0;
        ssize_t n = os::read(0, &key, 1);
        return n == 1 && key == 'k' && interrupted == 1;
    });
    EXPECT_EQ(r.value, 1);
}

TEST(SimBoard, ManagementInterfaceAnswersAsItsKnobsSay)
{
    for (const LinkState& c : kLinkStates) {
        SCOPED_TRACE(c.name);
        sim::Board board;
        c.set(board.net);
        sim::Run r = board.run([] {
            int fd = os::socket(AF_INET, SOCK_DGRAM, 0);
            if (fd < 0)
                return 1;
            ifreq request{};
            std::strncpy(request.ifr_name, "eth0", IFNAMSIZ - 1);
            if (os::ioctl(fd, SIOCGIFINDEX, &request) < 0)
                return 2;
            if (os::ioctl(fd, SIOCGIFFLAGS, &request) < 0)
                return 3;
            if ((request.ifr_flags & (IFF_UP | IFF_RUNNING)) != (IFF_UP | IFF_RUNNING))
                return 5;
            ethtool_value value{ETHTOOL_GLINK, 0};
            request.ifr_data = reinterpret_cast<char*>(&value);
            if (os::ioctl(fd, SIOCETHTOOL, &request) < 0)
                return 4;
            return 10 + static_cast<int>(value.data);
        });
        EXPECT_EQ(r.value, c.requests);
    }
}

TEST(SimBoard, ShellRecordsCommandsAndRunsTheirEffects)
{
    sim::Board board;
    board.shell.on_prefix("tar ", [](sim::Board& b, const std::string&) {
        b.write_file("/tmp/home/bin/distro-id", "x");
        return 2;
    });
    sim::Run r = board.run([] {
        int status = os::system("tar xf a");
        return status >> 8 == 2 && os::access("/tmp/home/bin/distro-id", F_OK) == 0;
    });
    EXPECT_EQ(r.value, 1);
    EXPECT_THAT(r.commands, ElementsAre("tar xf a"));
    EXPECT_TRUE(board.exists("/tmp/home/bin/distro-id"));

    board.shell.unavailable = true;
    EXPECT_EQ(board.run([] { return os::system("reboot"); }).value, -1);
}

TEST(SimBoard, ProcessEndsAreReportedWithTheOutputAFaithfulSystemWouldShow)
{
    sim::Board board;
    sim::Run exited = board.run([]() -> int {
        std::printf("unflushed");
        os::exit(3);
    });
    EXPECT_EQ(exited.end, sim::End::Exited);
    EXPECT_EQ(exited.value, 3);
    EXPECT_EQ(exited.out, "unflushed");

    sim::Run replaced = board.run([] {
        std::printf("lost");
        char name[] = "/bin/backtrace";
        char* argv[] = {name, nullptr};
        os::execv("/bin/backtrace", argv);
        return -1;
    });
    EXPECT_EQ(replaced.end, sim::End::Exec);
    EXPECT_EQ(replaced.exec_path, "/bin/backtrace");
    EXPECT_THAT(replaced.exec_argv, ElementsAre("/bin/backtrace"));
    EXPECT_EQ(replaced.out, "");

    board.files.exec_fails = true;
    EXPECT_EQ(board.run([] { return os::execv("/bin/backtrace", nullptr); }).value, -1);
}

TEST(SimBoard, StreamsInterleaveInTheOrderTheProgramWroteThem)
{
    sim::Board board;
    sim::Run r = board.run([] {
        std::puts("one");
        std::fputs("two\n", stderr);
        std::printf("thr");
        std::fflush(stdout);
        os::system("cmd");
        std::puts("ee");
        return 0;
    });
    EXPECT_THAT(r.steps(), ElementsAre("out:one\n", "err:two\n", "out:thr", "sh:cmd", "out:ee\n"));
}

TEST(SimBoard, ClockIsVirtualAndARunThatWaitsForeverHangs)
{
    sim::Board board;
    sim::Run r = board.run([] {
        os::sleep(5);
        os::usleep(1000);
        os::usleep(1000);
        return 0;
    });
    EXPECT_EQ(r.elapsed_us, 5002000u);
    EXPECT_THAT(r.steps(), ElementsAre("sleep:5002000"));

    board.virtual_limit_us = 10'000'000;
    sim::Run forever = board.run([]() -> int {
        for (;;)
            os::sleep(1);
    });
    EXPECT_EQ(forever.end, sim::End::Hung);
}

TEST(SimBoard, TheRunEndHookRunsInTheChildAsTheRunEnds)
{
    sim::Board board;
    board.at_run_end = [] { sim::Board::note("ending with " + std::to_string(g_runs_seen)); };
    sim::Run returned = board.run([] {
        g_runs_seen = 7;
        puts("body");
        return 3;
    });
    EXPECT_EQ(returned.end, sim::End::Returned);
    EXPECT_EQ(returned.value, 3);
    EXPECT_THAT(returned.steps(), ElementsAre("out:body\n", "note:ending with 7"));

    sim::Run exited = board.run([]() -> int { os::exit(2); });
    EXPECT_EQ(exited.end, sim::End::Exited);
    EXPECT_EQ(exited.value, 2);
    EXPECT_THAT(exited.steps(), ElementsAre("exit:2", "note:ending with 0"));
}

TEST(SimBoard, OnlyTheBoardsTmpIsReachable)
{
    sim::Board board;
    sim::Run r = board.run([] {
        int fd = os::open("/tmp/out", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        os::write(fd, "data", 4);
        os::close(fd);
        bool host_refused = os::open("/etc/passwd", O_RDONLY) < 0 && errno == ENOENT;
        bool escape_refused = os::open("/tmp/../etc/passwd", O_RDONLY) < 0;
        return host_refused && escape_refused;
    });
    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(board.read_file("/tmp/out"), "data");
}

}  // namespace

namespace {

void install_interrupt_handler(int flags)
{
    struct sigaction action {};
    action.sa_handler = [](int) {};
    action.sa_flags = flags;
    os::sigaction(SIGINT, &action, nullptr);
}

TEST(SimBoard, AnInterruptEndsAConsoleReadUnlessTheHandlerRestartsIt)
{
    for (int flags : {0, SA_RESTART}) {
        sim::Board board;
        board.console.interrupt().keys("k");
        sim::Run r = board.run([flags] {
            install_interrupt_handler(flags);
            char key = 0;
            ssize_t n = os::read(0, &key, 1);
            return n == 1 ? key : n < 0 && errno == EINTR ? -1 : -2;
        });
        EXPECT_EQ(r.value, flags == SA_RESTART ? 'k' : -1) << "flags " << flags;
    }
}

TEST(SimBoard, TheOperatorInterruptsAtAVirtualTime)
{
    sim::Board board;
    board.console.interrupt_at_us = 2500000;
    sim::Run r = board.run([] {
        static volatile sig_atomic_t interrupted = 0;
        struct sigaction action {};
        action.sa_handler = [](int) { interrupted = 1; };
        os::sigaction(SIGINT, &action, nullptr);
        for (int second = 1; second <= 5; ++second) {
            os::sleep(1);
            if (interrupted)
                return second;
        }
        return 0;
    });
    EXPECT_EQ(r.value, 3);
}

TEST(SimBoard, StdioReadsTheConsoleAheadAsTheKernelDeliversIt)
{
    struct Case {
        bool is_tty;
        std::string rest;  // what a plain read finds after stdio took its line
    };
    for (const Case& c : {Case{true, "E"}, Case{false, "<end>"}}) {
        sim::Board board;
        board.console.is_tty = c.is_tty;
        board.console.keys("2\nE");
        sim::Run r = board.run([] {
            char line[32] = {};
            if (std::fgets(line, sizeof line, stdin) == nullptr)
                return -1;
            char key = 0;
            std::printf("%s%s", line, os::read(0, &key, 1) == 1 ? std::string(1, key).c_str() : "<end>");
            return 0;
        });
        EXPECT_EQ(r.out, "2\n" + c.rest) << "tty " << c.is_tty;
    }
}

TEST(SimBoard, FlushingThePortDropsWhatThePeerHasSent)
{
    sim::Board board;
    auto peer = std::make_shared<sim::ReactivePeer>();
    peer->then({0x11, 0x22}).then({0x33}, 5000);
    board.serial.peer = peer;
    sim::Run r = board.run([] {
        int fd = os::open("/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK);
        os::tcflush(fd, TCIOFLUSH);
        os::usleep(5000);
        uint8_t byte = 0;
        return os::read(fd, &byte, 1) == 1 ? byte : -1;
    });
    EXPECT_EQ(r.value, 0x33);
}

TEST(SimBoard, ReactivePeerAnswersInOrderOnItsLinesTime)
{
    sim::Board board;
    // 100 us a byte; the first step waits 1 ms on its own, the second for the board's 'C'.
    auto peer = std::make_shared<sim::ReactivePeer>(100);
    peer->then({0x0D}, 1000).on('C', {0x01, 0x02}).on(0x06, {0x04}, 3000);
    board.serial.peer = peer;
    sim::Run r = board.run([] {
        int fd = os::open("/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK);
        auto next = [fd] {
            uint8_t byte = 0;
            while (os::read(fd, &byte, 1) != 1)
                os::usleep(50);
            return byte;
        };
        next();
        os::write(fd, "x", 1);  // not the trigger: passed over
        os::write(fd, "C", 1);
        next();
        next();
        os::write(fd, "\x06", 1);
        next();
        return 0;
    });
    std::vector<std::string> timeline;
    for (const sim::Event& e : r.events)
        if (e.kind == sim::Event::Kind::SerialTx || e.kind == sim::Event::Kind::SerialRx)
            timeline.push_back(r.steps({e.kind}).front().substr(0, 2) + "@" + std::to_string(e.at_us));
    // Reads poll every 50 us, so each byte is seen at the first poll after it has arrived.
    EXPECT_THAT(timeline, ElementsAre("rx@1100", "tx@1100", "rx@1200", "rx@1300", "tx@1300", "rx@4400"));
}

}  // namespace

namespace {

// Each access on a device node as the kernel judges it against the descriptor's access mode.
struct AccessCase {
    const char* name;
    const char* path;
    int flags;
    bool writing;
    int result;  // 1 (the byte moved) or -errno
};

const AccessCase kAccessCases[] = {
    {"FlashReadOnWriteOnly", "/dev/mtd0", O_WRONLY, false, -EBADF},
    {"FlashWriteOnReadOnly", "/dev/mtd0", O_RDONLY, true, -EBADF},
    {"FlashWriteOnReadWrite", "/dev/mtd0", O_RDWR, true, 1},
    {"CpldReadOnWriteOnly", "/dev/tavik/cpld_mmmap", O_WRONLY, false, -EBADF},
    {"CpldWriteOnReadOnly", "/dev/tavik/cpld_mmmap", O_RDONLY, true, -EBADF},
    {"CpldReadOnReadOnly", "/dev/tavik/cpld_mmmap", O_RDONLY, false, 1},
    {"BusWriteOnReadOnly", "/dev/i2c-0", O_RDONLY, true, -EBADF},
    {"SerialReadOnWriteOnly", "/dev/ttyS0", O_WRONLY | O_NOCTTY | O_NONBLOCK, false, -EBADF},
};

class DescriptorAccessMode : public testing::TestWithParam<AccessCase> {};

TEST_P(DescriptorAccessMode, IsHonoured)
{
    const AccessCase& c = GetParam();
    sim::Board board;
    board.i2c.cpld()[20] = 0x04;
    board.serial.peer = std::make_shared<sim::ReactivePeer>(sim::ReactivePeer().then({0x55}));
    sim::Run r = board.run([&c] {
        int fd = os::open(c.path, c.flags);
        uint8_t bytes[2] = {0x54, 0x00};
        ssize_t n = c.writing ? os::write(fd, bytes, 1) : os::read(fd, bytes, 1);
        return n < 0 ? -errno : static_cast<int>(n);
    });
    EXPECT_EQ(r.value, c.result);
}

INSTANTIATE_TEST_SUITE_P(Nodes, DescriptorAccessMode, testing::ValuesIn(kAccessCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SimBoard, PositionedFlashAccessAndEraseNeedTheirAccessMode)
{
    sim::Board board;
    sim::Run r = board.run([] {
        uint8_t byte = 0;
        int read_only = os::open("/dev/mtd0", O_RDONLY);
        int write_only = os::open("/dev/mtd0", O_WRONLY);
        erase_info_user block{0, 0x20000};
        mtd_info_user info{};
        auto error_of = [](long result) { return result < 0 ? errno : 0; };
        int results[] = {error_of(os::pwrite(read_only, &byte, 1, 0)),
                         error_of(os::pread(write_only, &byte, 1, 0)),
                         error_of(os::ioctl(read_only, MEMERASE, &block)),
                         error_of(os::ioctl(write_only, MEMERASE, &block)),
                         error_of(os::ioctl(read_only, MEMGETINFO, &info))};
        std::printf("%d %d %d %d %d\n", results[0], results[1], results[2], results[3], results[4]);
        return 0;
    });
    EXPECT_EQ(r.out,
              std::to_string(EBADF) + " " + std::to_string(EBADF) + " " + std::to_string(EPERM) + " 0 0\n");
    EXPECT_EQ(board.flash.counters().erases, 1u);
}

TEST(SimBoard, EachOpenIsRecordedWithItsFlags)
{
    sim::Board board;
    sim::Run r = board.run([] {
        os::open("/dev/mtd0", O_RDWR | O_SYNC);
        os::open("/dev/ttyS0", O_RDWR | O_NOCTTY | O_NONBLOCK);
        os::open("/tmp/file", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        os::open("/dev/mtd0", O_RDONLY);
        os::open("/dev/missing", O_RDONLY);
        return 0;
    });
    EXPECT_EQ(r.open_flags("/dev/mtd0"), (std::vector<int>{O_RDWR | O_SYNC, O_RDONLY}));
    EXPECT_EQ(r.open_flags("/dev/ttyS0"), (std::vector<int>{O_RDWR | O_NOCTTY | O_NONBLOCK}));
    EXPECT_EQ(r.open_flags("/tmp/file"), (std::vector<int>{O_WRONLY | O_CREAT | O_TRUNC}));
    EXPECT_TRUE(r.open_flags("/dev/missing").empty());
    EXPECT_THAT(r.steps({sim::Event::Kind::Open}),
                ElementsAre("open:/dev/mtd0", "open:/dev/ttyS0", "open:/tmp/file", "open:/dev/mtd0"));
}

TEST(SimBoard, ClosingADescriptorTheProgramDidNotOpenIsRecorded)
{
    sim::Board board;
    board.console.keys("k");
    sim::Run r = board.run([] {
        char key = 0;
        int first = os::close(0);
        ssize_t read_after = os::read(0, &key, 1);
        int read_error = errno;
        int again = os::close(0);
        int unknown = os::close(57);
        std::printf("%d %d/%d %d %d\n", first, static_cast<int>(read_after), read_error == EBADF, again,
                    unknown);
        return 0;
    });
    EXPECT_EQ(r.out, "0 -1/1 -1 -1\n");
    EXPECT_THAT(r.steps({sim::Event::Kind::Close}), ElementsAre("close:fd 0", "close:fd 0", "close:fd 57"));
}

TEST(SimBoard, AFailingCloseReportsEioAndStillReleasesTheDescriptor)
{
    sim::Board board;
    board.files.close_fails = {"/tmp/archive", "/dev/mtd0"};
    sim::Run r = board.run([] {
        int file = os::open("/tmp/archive", O_WRONLY | O_CREAT, 0644);
        int flash = os::open("/dev/mtd0", O_RDWR);
        int other = os::open("/tmp/other", O_WRONLY | O_CREAT, 0644);
        int results[] = {os::close(file), errno, os::close(file), os::close(flash), errno, os::close(other)};
        std::printf("%d %d %d %d %d %d\n", results[0], results[1], results[2], results[3], results[4],
                    results[5]);
        return 0;
    });
    EXPECT_EQ(r.out, "-1 " + std::to_string(EIO) + " -1 -1 " + std::to_string(EIO) + " 0\n");
}

TEST(SimBoard, BufferAllocationsFailAsTheMemoryKnobsSay)
{
    struct Case {
        uint32_t fail_nth;
        size_t fail_from_size;
        const char* given;  // for allocations of 16, 0x20000, 16 and 0x20000 bytes
    };
    const Case cases[] = {{0, 0, "1111"}, {2, 0, "1011"}, {0, 0x20000, "1010"}, {3, 0x20000, "1000"}};
    for (const Case& c : cases) {
        sim::Board board;
        board.memory.fail_nth = c.fail_nth;
        board.memory.fail_from_size = c.fail_from_size;
        sim::Run r = board.run([] {
            for (size_t size : {16, 0x20000, 16, 0x20000})
                std::printf("%d", os::new_buffer(size) != nullptr);
            return 0;
        });
        EXPECT_EQ(r.out, c.given) << "nth " << c.fail_nth << ", from " << c.fail_from_size;
        EXPECT_EQ(board.memory.allocations(), 4u);
    }
}

TEST(SimBoard, PowerCutAfterAnEepromWriteKeepsWhatWasStored)
{
    sim::Board board;
    board.i2c.cpld()[20] = 0x04;
    board.i2c.power_cut_after_write = 2;
    sim::Run r = board.run([] {
        int bus = os::open("/dev/i2c-0", O_RDWR);
        os::ioctl(bus, I2C_SLAVE, 0x54ul);
        uint8_t address_only = 0x10;
        os::write(bus, &address_only, 1);
        os::smbus_write_byte_data(bus, 1, 2);
        uint8_t plain[] = {0x20, 0xAB};
        os::write(bus, plain, sizeof plain);
        os::smbus_write_byte_data(bus, 3, 4);
        return 0;
    });
    EXPECT_EQ(r.end, sim::End::PowerCut);
    EXPECT_EQ(board.i2c.writes(), 2u);
    EXPECT_EQ(board.i2c.eeprom()[1], 2);
    EXPECT_EQ(board.i2c.eeprom()[0x20], 0xAB);
    EXPECT_EQ(board.i2c.eeprom()[3], 0xFF);
}

}  // namespace
