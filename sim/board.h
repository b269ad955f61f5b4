// The simulated board: NOR flash, the VPD EEPROM behind the CPLD gate, console, serial port, shell,
// network interface and clock, all emulated behind the functions of platform/os.h.
//
// A test sets up a Board and its knobs, then runs a piece of launcher code with run().  Each run
// happens in a forked child, so it starts from the program's initial state (module globals as at
// process start), while the board's flash, EEPROM and CPLD live in shared memory and keep their
// state across runs and power cuts.  The child's console output, shell commands, sleeps and the
// way it ended come back to the test as a Run.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct SharedState;
class Board;

// ---------------------------------------------------------------- flash

enum class FlashOp { Read, Erase, Write };

// A device operation that fails.  It matches the nth operation of its kind in a run (1-based), or
// every operation of its kind whose byte range covers addr, or both when both are given.
struct FlashFault {
    FlashFault(FlashOp op_, uint32_t nth_ = 0, std::optional<uint32_t> addr_ = std::nullopt,
               bool short_transfer_ = false)
        : op(op_), nth(nth_), addr(addr_), short_transfer(short_transfer_)
    {}

    FlashOp op;
    uint32_t nth;                  // 0: any count
    std::optional<uint32_t> addr;  // nullopt: any address
    bool short_transfer;           // read/write moves half the bytes instead of failing
};

struct FlashCounters {
    uint32_t reads = 0;
    uint32_t erases = 0;
    uint32_t writes = 0;
    uint64_t bytes_read = 0;
    uint64_t bytes_written = 0;
    uint64_t bytes_erased = 0;
};

class Flash {
public:
    // Geometry reported by MEMGETINFO; the emulated array is always 64 MiB of 128 KiB blocks.
    static constexpr uint32_t kArraySize = 64u << 20;
    static constexpr uint32_t kBlockSize = 128u << 10;
    uint32_t reported_size = kArraySize;
    uint32_t reported_erase_size = kBlockSize;

    bool missing = false;  // "/dev/mtd0" does not open
    // The kernel offers the flash read-only (a read-only partition): an open for writing fails with
    // EACCES, as the MTD character device refuses it.
    bool read_only = false;
    bool info_fails = false;  // MEMGETINFO fails
    std::vector<FlashFault> faults;
    // The power goes off right after the nth erase or write of a run (1-based; 0: never).
    uint32_t power_cut_after_erase = 0;
    uint32_t power_cut_after_write = 0;

    // Direct access to the array, without counters or faults (preloading and checking).
    uint8_t* data();
    void load(uint32_t offset, const std::vector<uint8_t>& bytes);
    std::vector<uint8_t> bytes(uint32_t offset, uint32_t length) const;
    // Counters of the last run.
    FlashCounters counters() const;

private:
    friend class Board;
    SharedState* state_ = nullptr;
    uint8_t* array_ = nullptr;
};

// ---------------------------------------------------------------- I2C bus, EEPROM and CPLD

class I2c {
public:
    static constexpr int kEepromAddress = 0x54;
    static constexpr unsigned kCpldGateRegister = 20;
    static constexpr uint8_t kCpldGateBit = 0x04;

    bool bus_missing = false;     // "/dev/i2c-0" does not open
    bool eeprom_missing = false;  // nothing answers at 0x54
    bool cpld_missing = false;    // "/dev/tavik/cpld_mmmap" does not open
    bool cpld_seek_fails = false;
    bool cpld_read_fails = false;
    bool cpld_write_fails = false;
    uint32_t fail_transfer_nth = 0;  // the nth EEPROM transfer of a run fails (1-based; 0: none)
    // The power goes off right after the nth EEPROM write of a run has been stored (1-based; 0: never).
    uint32_t power_cut_after_write = 0;

    // Shared with the runs: the EEPROM's 256 bytes (initially 0xFF), the CPLD register file.
    uint8_t* eeprom();
    uint8_t* cpld();
    // EEPROM transfers of the last run: the ones attempted and the ones refused because the gate
    // was clear.
    uint32_t transfers() const;
    uint32_t gate_refusals() const;
    // EEPROM writes of the last run that were stored.
    uint32_t writes() const;

private:
    friend class Board;
    SharedState* state_ = nullptr;
};

// ---------------------------------------------------------------- memory

// The program's buffers from the heap (os::new_buffer), which the board can refuse.
class Memory {
public:
    uint32_t fail_nth = 0;      // the nth buffer allocation of a run fails (1-based; 0: none)
    size_t fail_from_size = 0;  // every allocation of at least this many bytes fails (0: none)

    // Buffer allocations the last run asked for, the refused ones included.
    uint32_t allocations() const;

private:
    friend class Board;
    SharedState* state_ = nullptr;
};

// ---------------------------------------------------------------- console

// What the console's standard input delivers, read by read by the program.  After the last entry
// the input has ended (reads give 0).
struct ConsoleInput {
    enum class Kind {
        Key,        // one byte
        Interrupt,  // SIGINT arrives while the read waits; the read gives -1 with EINTR
        Signal,     // SIGINT arrives just before the read, which then takes the next entry
    };
    Kind kind;
    uint8_t key = 0;
};

class Console {
public:
    bool is_tty = true;  // false: the terminal settings calls fail with ENOTTY
    // The program starts without standard input: descriptor 0 is free, and the first device it
    // opens gets it, as Linux gives out the lowest free descriptor.
    bool input_closed = false;
    // Standard output fully buffered, as when the console is a pipe or a file: output that is not
    // flushed before a shell command or an exec then shows after it, or is lost.
    bool output_is_pipe = false;
    std::vector<ConsoleInput> input;
    // The operator interrupts (SIGINT) once the virtual clock reaches this time, whatever the program
    // is doing then.
    std::optional<uint64_t> interrupt_at_us;

    Console& keys(const std::string& text);
    Console& interrupt();
    Console& signal();
};

// ---------------------------------------------------------------- shell

// An effect runs in place of a command line and gives its exit status.
using ShellEffect = std::function<int(Board& board, const std::string& command)>;

class Shell {
public:
    bool unavailable = false;                                       // no shell can be run: system() gives -1
    void on(const std::string& command, ShellEffect effect);        // the exact command line
    void on_prefix(const std::string& prefix, ShellEffect effect);  // every line starting so
    // The first rule, in the order they were given, that matches the command line.
    const ShellEffect* effect_for(const std::string& command) const;

private:
    struct Rule {
        std::string text;
        bool prefix;
        ShellEffect effect;
    };
    std::vector<Rule> rules_;
};

// ---------------------------------------------------------------- serial port

// The far end of "/dev/ttyS0", on the board's virtual time.
class SerialPeer {
public:
    virtual ~SerialPeer() = default;
    virtual void receive(uint8_t byte, uint64_t now_us) = 0;   // the board sent a byte
    virtual std::optional<uint8_t> send(uint64_t now_us) = 0;  // the next byte for the board, if any now
};

// A peer that answers the board.  Its steps happen in order: each sends its bytes once the board
// has sent the step's trigger byte (bytes the board sends that are not the trigger are passed
// over), or, for a step without a trigger, as soon as the step before it has happened; a step's
// delay then passes before its first byte leaves.  Bytes follow one another byte_time_us apart, as
// on a line of that speed, and each is there for the board once it has wholly arrived.
class ReactivePeer : public SerialPeer {
public:
    explicit ReactivePeer(uint64_t byte_time_us = 0) : byte_time_us_(byte_time_us) {}
    ReactivePeer& on(uint8_t trigger, const std::vector<uint8_t>& bytes, uint64_t delay_us = 0);
    ReactivePeer& then(const std::vector<uint8_t>& bytes, uint64_t delay_us = 0);
    void receive(uint8_t byte, uint64_t now_us) override;
    std::optional<uint8_t> send(uint64_t now_us) override;

private:
    struct Step {
        std::optional<uint8_t> trigger;
        std::vector<uint8_t> bytes;
        uint64_t delay_us;
    };
    void fire(uint64_t at_us);
    void fire_untriggered(uint64_t now_us);

    uint64_t byte_time_us_;
    std::vector<Step> steps_;
    size_t next_step_ = 0;
    uint64_t last_fired_us_ = 0;
    uint64_t line_free_us_ = 0;
    std::vector<std::pair<uint64_t, uint8_t>> outgoing_;
    size_t next_out_ = 0;
};

class Serial {
public:
    bool missing = false;              // "/dev/ttyS0" does not open
    bool settings_read_fails = false;  // tcgetattr on the port fails with EIO; setting them works
    std::shared_ptr<SerialPeer> peer;  // nothing: the line stays silent
    // Real device to pass the port through to (a pty of an interop test); the clock then runs in
    // real time for sleeps.
    std::string passthrough_path;
};

// ---------------------------------------------------------------- management network interface

class Net {
public:
    bool socket_fails = false;
    bool interface_missing = false;  // SIOCGIFINDEX fails for "eth0"
    bool flags_fail = false;
    bool ethtool_fails = false;
    short flags = 0x1 | 0x40;  // IFF_UP | IFF_RUNNING
    bool link = true;
};

// ---------------------------------------------------------------- files

class Files {
public:
    // Programs and files of the board's root file system that exist (for access and exec).
    std::vector<std::string> rootfs = {"/bin/sh", "/bin/backtrace", "/bin/gdbserver"};
    std::vector<std::string> open_fails;  // board paths whose open fails with EACCES
    // Board paths whose close fails with EIO (a write the file system could not complete), the
    // descriptor released all the same.
    std::vector<std::string> close_fails;
    // The bytes that /tmp still takes in a run (nothing: no limit).  As on tmpfs, a write that finds
    // less room than it carries writes what fits and gives that count, and one that finds no room
    // at all fails with ENOSPC; so 0 is a full /tmp.
    std::optional<uint64_t> tmp_room;
    bool exec_fails = false;  // execv gives -1 with ENOENT
};

// ---------------------------------------------------------------- a run

enum class End {
    Returned,  // the body returned; value holds its result
    Exited,    // os::exit; value holds the status
    Exec,      // os::execv replaced the process
    PowerCut,  // the power went off during a flash operation
    Hung,      // virtual or real time ran past the limit
    Crashed,   // the child died of a signal; value holds it
};

struct Event {
    // Key: a key the program read from the console.  What it wrote to the console before that read
    // shows before it only if it had left the program's buffer by then, as on a terminal.
    enum class Kind {
        Out,
        Err,
        Shell,
        Sleep,
        Exec,
        Exit,
        PowerCut,
        Open,
        Close,
        Access,
        Tty,
        SerialTx,
        SerialRx,
        I2c,
        Cpld,
        Sync,
        Note,
        Key
    };
    Kind kind;
    uint64_t at_us;
    std::string text;
};

struct Run {
    End end = End::Crashed;
    int value = 0;
    std::string out;                    // everything on standard output
    std::string err;                    // everything on standard error
    std::vector<std::string> commands;  // shell command lines in order
    std::string exec_path;
    std::vector<std::string> exec_argv;
    std::vector<Event> events;
    uint64_t elapsed_us = 0;  // virtual time the run took
    // The child's peak resident set in KiB (wait4's ru_maxrss).  It starts from what the fork copied
    // of the test process, so a figure means something only against a run of an empty body.
    long max_resident_kib = 0;

    struct Opening {
        std::string path;
        int flags;
    };
    std::vector<Opening> opens;  // every open that succeeded, with the flags it was given

    // The flags of each successful open of path, in order.
    std::vector<int> open_flags(const std::string& path) const;

    // The events as "kind:text" lines ("out:...", "err:...", "sh:...", "sleep:<us>", "exec:<path>",
    // "exit:<status>", "powercut", "open:<path>", "close:<path>" ("close:fd <n>" for a descriptor
    // the program did not open), "access:<path>", "tty:...",
    // "tx:<hex>", "rx:<hex>", "i2c:...", "cpld:<reg>=<hex>", "sync", "note:...", "key:<keys>"), adjacent
    // output of one stream, adjacent keys, adjacent serial bytes of one direction and adjacent sleeps
    // merged.
    std::vector<std::string> steps() const;
    // Only the steps of the given kinds, in order, output of one stream merged again where the
    // steps left out stood between its pieces.
    std::vector<std::string> steps(std::initializer_list<Event::Kind> kinds) const;
};

// ---------------------------------------------------------------- the board

class Board {
public:
    Board();
    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    Flash flash;
    I2c i2c;
    Memory memory;
    Console console;
    Shell shell;
    Serial serial;
    Net net;
    Files files;
    uint64_t virtual_limit_us = 24ull * 3600 * 1000000;  // a run longer than this has hung
    unsigned real_limit_seconds = 60;
    // Runs in the child once, as a run ends by itself (any end but a crash or the real time limit),
    // just before the child leaves: the place to hand state the child gathered to the parent, or
    // to check it, since nothing else runs in the child after the run's end.
    std::function<void()> at_run_end;

    // Runs body in a fresh process on this board.
    Run run(const std::function<int()>& body);

    // The test directory that stands for the board's /tmp, and the host path of a board path.
    const std::string& tmp_dir() const;
    std::string host_path(const std::string& board_path) const;
    void write_file(const std::string& board_path, const std::string& content);
    std::optional<std::string> read_file(const std::string& board_path) const;
    bool exists(const std::string& board_path) const;

    // Records a note in the current run (for effects and bodies that want to leave a mark).
    static void note(const std::string& text);

private:
    Run collect(int wait_status) const;

    SharedState* state_;
    uint8_t* array_;
    std::string tmp_dir_;
};

}  // namespace sim
