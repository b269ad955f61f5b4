// The board's lifetime, its runs in forked children, and the record of what a run did.
#include "sim/board.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "sim/emulated_system.h"
#include "sim/state.h"

namespace sim {

namespace {

Board* g_active = nullptr;
SharedState* g_state = nullptr;

void* map_shared(size_t size)
{
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::runtime_error("sim: cannot map shared memory");
    return p;
}

bool mergeable(Event::Kind kind)
{
    return kind == Event::Kind::Out || kind == Event::Kind::Err || kind == Event::Kind::SerialTx ||
           kind == Event::Kind::SerialRx || kind == Event::Kind::Key;
}

EventRecord* record_at(SharedState& s, uint32_t offset)
{
    return reinterpret_cast<EventRecord*>(s.log + offset);
}

uint32_t padded(uint32_t length) { return (length + 7u) & ~7u; }

// The console streams of a run: stdin reads the emulated console, stdout line-buffered as on a terminal,
// stderr unbuffered, each write recorded in order so that the test sees how the two interleave.
ssize_t write_stream(void* cookie, const char* data, size_t size)
{
    record(cookie == nullptr ? Event::Kind::Out : Event::Kind::Err, data, static_cast<uint32_t>(size));
    return static_cast<ssize_t>(size);
}

void capture_console_streams(bool output_is_pipe)
{
    cookie_io_functions_t io{};
    io.write = write_stream;
    cookie_io_functions_t input{};
    input.read = console_stream_read;
    FILE* in = fopencookie(nullptr, "r", input);
    FILE* out = fopencookie(nullptr, "w", io);
    FILE* err = fopencookie(reinterpret_cast<void*>(1), "w", io);
    if (in == nullptr || out == nullptr || err == nullptr)
        _exit(120);
    setvbuf(out, nullptr, output_is_pipe ? _IOFBF : _IOLBF, BUFSIZ);
    setvbuf(err, nullptr, _IONBF, 0);
    stdin = in;
    stdout = out;
    stderr = err;
}

std::string hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::string render(const Event& e)
{
    using K = Event::Kind;
    switch (e.kind) {
    case K::Out:
        return "out:" + e.text;
    case K::Err:
        return "err:" + e.text;
    case K::Shell:
        return "sh:" + e.text;
    case K::Sleep:
        return "sleep:" + e.text;
    case K::Exec:
        return "exec:" + e.text;
    case K::Exit:
        return "exit:" + e.text;
    case K::PowerCut:
        return "powercut";
    case K::Open:
        return "open:" + e.text;
    case K::Close:
        return "close:" + e.text;
    case K::Access:
        return "access:" + e.text;
    case K::Tty:
        return "tty:" + e.text;
    case K::SerialTx:
        return "tx:" + hex(e.text);
    case K::SerialRx:
        return "rx:" + hex(e.text);
    case K::I2c:
        return "i2c:" + e.text;
    case K::Cpld:
        return "cpld:" + e.text;
    case K::Sync:
        return "sync";
    case K::Note:
        return "note:" + e.text;
    case K::Key:
        return "key:" + e.text;
    }
    return "?";
}

}  // namespace

// ---------------------------------------------------------------- recording in the child

Board& active_board() { return *g_active; }

SharedState& active_state() { return *g_state; }

void record(Event::Kind kind, const void* text, uint32_t length)
{
    SharedState& s = active_state();
    if (s.log_used > 0 && mergeable(kind)) {
        EventRecord* last = record_at(s, s.last_record);
        if (last->kind == static_cast<uint32_t>(kind)) {
            uint32_t start = s.last_record + sizeof(EventRecord) + last->length;
            uint32_t end = s.last_record + sizeof(EventRecord) + padded(last->length + length);
            if (end > SharedState::kLogCapacity)
                finish(End::Hung, 0);
            std::memcpy(s.log + start, text, length);
            last->length += length;
            s.log_used = end;
            return;
        }
    }
    uint32_t end = s.log_used + sizeof(EventRecord) + padded(length);
    // A run that fills the log is looping without end.
    if (end > SharedState::kLogCapacity)
        finish(End::Hung, 0);
    EventRecord* r = record_at(s, s.log_used);
    r->kind = static_cast<uint32_t>(kind);
    r->length = length;
    r->at_us = s.now_us;
    std::memcpy(s.log + s.log_used + sizeof(EventRecord), text, length);
    s.last_record = s.log_used;
    s.log_used = end;
}

void record(Event::Kind kind, const std::string& text)
{
    record(kind, text.data(), static_cast<uint32_t>(text.size()));
}

void record_sleep(uint64_t microseconds)
{
    SharedState& s = active_state();
    if (s.log_used > 0) {
        EventRecord* last = record_at(s, s.last_record);
        if (last->kind == static_cast<uint32_t>(Event::Kind::Sleep)) {
            uint64_t total = 0;
            std::memcpy(&total, s.log + s.last_record + sizeof(EventRecord), sizeof total);
            total += microseconds;
            std::memcpy(s.log + s.last_record + sizeof(EventRecord), &total, sizeof total);
            return;
        }
    }
    record(Event::Kind::Sleep, &microseconds, sizeof microseconds);
}

void finish(End end, int value)
{
    SharedState& s = active_state();
    // The hook may record events: a log it fills ends the run here again, as the hung run it is.
    static bool ending = false;
    if (!ending) {
        s.end = static_cast<int>(end);
        s.value = value;
    }
    bool run_hook = !ending && active_board().at_run_end;
    ending = true;
    if (run_hook)
        active_board().at_run_end();
    _exit(0);
}

void Board::note(const std::string& text) { record(Event::Kind::Note, text); }

// ---------------------------------------------------------------- board

Board::Board()
    : state_(static_cast<SharedState*>(map_shared(sizeof(SharedState)))),
      array_(static_cast<uint8_t*>(map_shared(Flash::kArraySize)))
{
    std::memset(array_, 0xFF, Flash::kArraySize);
    std::memset(state_->eeprom, 0xFF, sizeof state_->eeprom);
    std::memset(state_->cpld, 0x00, sizeof state_->cpld);
    flash.state_ = state_;
    flash.array_ = array_;
    i2c.state_ = state_;
    memory.state_ = state_;

    std::string pattern = (std::filesystem::temp_directory_path() / "simboard-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("sim: cannot make the board's /tmp");
    tmp_dir_ = pattern;
}

Board::~Board()
{
    std::error_code ignored;
    std::filesystem::remove_all(tmp_dir_, ignored);
    munmap(array_, Flash::kArraySize);
    munmap(state_, sizeof(SharedState));
}

Run Board::run(const std::function<int()>& body)
{
    SharedState& s = *state_;
    s.flash_counters = {};
    s.i2c_transfers = 0;
    s.gate_refusals = 0;
    s.eeprom_writes = 0;
    s.allocations = 0;
    s.now_us = 0;
    s.end = -1;
    s.value = 0;
    s.log_used = 0;
    s.last_record = 0;

    std::fflush(nullptr);
    pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("sim: fork failed");
    if (child == 0) {
        g_active = this;
        g_state = state_;
        begin_run_in_child();
        capture_console_streams(console.output_is_pipe);
        alarm(real_limit_seconds);
        int value = body();
        std::fflush(stdout);
        std::fflush(stderr);
        finish(End::Returned, value);
    }

    int status = 0;
    rusage usage{};
    while (wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    Run run = collect(status);
    run.max_resident_kib = usage.ru_maxrss;
    return run;
}

Run Board::collect(int wait_status) const
{
    const SharedState& s = *state_;
    Run run;
    if (s.end >= 0) {
        run.end = static_cast<End>(s.end);
        run.value = s.value;
    } else if (WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == SIGALRM) {
        run.end = End::Hung;
    } else if (WIFSIGNALED(wait_status)) {
        run.end = End::Crashed;
        run.value = WTERMSIG(wait_status);
    } else {
        run.end = End::Crashed;
        run.value = -WEXITSTATUS(wait_status);
    }
    run.elapsed_us = s.now_us;

    for (uint32_t at = 0; at < s.log_used;) {
        const auto* r = reinterpret_cast<const EventRecord*>(s.log + at);
        const char* text = s.log + at + sizeof(EventRecord);
        Event e{static_cast<Event::Kind>(r->kind), r->at_us, std::string(text, r->length)};
        if (e.kind == Event::Kind::Sleep) {
            uint64_t us = 0;
            std::memcpy(&us, text, sizeof us);
            e.text = std::to_string(us);
        }
        switch (e.kind) {
        case Event::Kind::Out:
            run.out += e.text;
            break;
        case Event::Kind::Err:
            run.err += e.text;
            break;
        case Event::Kind::Shell:
            run.commands.push_back(e.text);
            break;
        case Event::Kind::Exec: {
            std::istringstream words(e.text);
            std::getline(words, run.exec_path, '\x1f');
            for (std::string word; std::getline(words, word, '\x1f');)
                run.exec_argv.push_back(word);
            e.text = run.exec_path;
            break;
        }
        case Event::Kind::Open: {
            size_t separator = e.text.find('\x1f');
            int flags = std::stoi(e.text.substr(separator + 1));
            e.text.resize(separator);
            run.opens.push_back({e.text, flags});
            break;
        }
        default:
            break;
        }
        run.events.push_back(std::move(e));
        at += sizeof(EventRecord) + padded(r->length);
    }
    return run;
}

const std::string& Board::tmp_dir() const { return tmp_dir_; }

std::string Board::host_path(const std::string& board_path) const
{
    bool in_tmp = board_path == "/tmp" || board_path.rfind("/tmp/", 0) == 0;
    if (!in_tmp || board_path.find("/..") != std::string::npos)
        return {};
    return tmp_dir_ + board_path.substr(4);
}

void Board::write_file(const std::string& board_path, const std::string& content)
{
    std::string path = host_path(board_path);
    if (path.empty())
        throw std::invalid_argument("sim: not a board /tmp path: " + board_path);
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

std::optional<std::string> Board::read_file(const std::string& board_path) const
{
    std::string path = host_path(board_path);
    std::ifstream in(path, std::ios::binary);
    if (path.empty() || !in)
        return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

bool Board::exists(const std::string& board_path) const
{
    std::string path = host_path(board_path);
    return !path.empty() && std::filesystem::exists(path);
}

// ---------------------------------------------------------------- devices seen from the test

uint8_t* Flash::data() { return array_; }

void Flash::load(uint32_t offset, const std::vector<uint8_t>& bytes)
{
    if (uint64_t{offset} + bytes.size() > kArraySize)
        throw std::out_of_range("sim: load past the flash");
    std::copy(bytes.begin(), bytes.end(), array_ + offset);
}

std::vector<uint8_t> Flash::bytes(uint32_t offset, uint32_t length) const
{
    if (uint64_t{offset} + length > kArraySize)
        throw std::out_of_range("sim: read past the flash");
    return {array_ + offset, array_ + offset + length};
}

FlashCounters Flash::counters() const { return state_->flash_counters; }

uint8_t* I2c::eeprom() { return state_->eeprom; }
uint8_t* I2c::cpld() { return state_->cpld; }
uint32_t I2c::transfers() const { return state_->i2c_transfers; }
uint32_t I2c::gate_refusals() const { return state_->gate_refusals; }
uint32_t I2c::writes() const { return state_->eeprom_writes; }

uint32_t Memory::allocations() const { return state_->allocations; }

Console& Console::keys(const std::string& text)
{
    for (unsigned char c : text)
        input.push_back({ConsoleInput::Kind::Key, c});
    return *this;
}

Console& Console::interrupt()
{
    input.push_back({ConsoleInput::Kind::Interrupt});
    return *this;
}

Console& Console::signal()
{
    input.push_back({ConsoleInput::Kind::Signal});
    return *this;
}

void Shell::on(const std::string& command, ShellEffect effect)
{
    rules_.push_back({command, false, std::move(effect)});
}

void Shell::on_prefix(const std::string& prefix, ShellEffect effect)
{
    rules_.push_back({prefix, true, std::move(effect)});
}

const ShellEffect* Shell::effect_for(const std::string& command) const
{
    for (const Rule& rule : rules_) {
        bool matches = rule.prefix ? command.rfind(rule.text, 0) == 0 : command == rule.text;
        if (matches)
            return &rule.effect;
    }
    return nullptr;
}

// ---------------------------------------------------------------- a run's record

std::vector<int> Run::open_flags(const std::string& path) const
{
    std::vector<int> flags;
    for (const Opening& opening : opens)
        if (opening.path == path)
            flags.push_back(opening.flags);
    return flags;
}

std::vector<std::string> Run::steps() const
{
    std::vector<std::string> lines;
    for (const Event& e : events)
        lines.push_back(render(e));
    return lines;
}

std::vector<std::string> Run::steps(std::initializer_list<Event::Kind> kinds) const
{
    std::vector<std::string> lines;
    const Event* previous = nullptr;
    for (const Event& e : events) {
        if (std::find(kinds.begin(), kinds.end(), e.kind) == kinds.end())
            continue;
        // Output of one stream that only left-out steps separated reads as one piece.
        bool same_stream = previous != nullptr && previous->kind == e.kind &&
                           (e.kind == Event::Kind::Out || e.kind == Event::Kind::Err);
        if (same_stream)
            lines.back() += e.text;
        else
            lines.push_back(render(e));
        previous = &e;
    }
    return lines;
}

}  // namespace sim
