#include "fuzz_support.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sanitizer/lsan_interface.h>
#include <sys/mman.h>

// The fuzzer's inline coverage counters.  A run's child bumps its own copy of them; the parent
// only learns what the child reached when the child hands its copy back.
extern "C" {
extern uint8_t __start___sancov_cntrs[] __attribute__((weak));
extern uint8_t __stop___sancov_cntrs[] __attribute__((weak));
}

namespace fuzz {

namespace {

struct CoverageMailbox {
    uint8_t* counters;
    size_t size;
    uint8_t* shared;  // size counter bytes, then a flag: the child has filled them
};

size_t counter_bytes()
{
    if (__start___sancov_cntrs == nullptr || __stop___sancov_cntrs == nullptr)
        return 0;
    return static_cast<size_t>(__stop___sancov_cntrs - __start___sancov_cntrs);
}

CoverageMailbox& mailbox()
{
    static CoverageMailbox box = [] {
        CoverageMailbox b{__start___sancov_cntrs, counter_bytes(), nullptr};
        void* p = mmap(nullptr, b.size + 1, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) {
            perror("fuzz: coverage mailbox");
            abort();
        }
        b.shared = static_cast<uint8_t*>(p);
        return b;
    }();
    return box;
}

// A leak check stops the child's world and scans its memory, which costs several times a run:
// every so many runs get one.
constexpr unsigned kRunsPerLeakCheck = 8;
unsigned g_runs = 0;

// In the child, as its run ends: leaks are looked for here, since the child leaves with _exit and
// no leak check would run otherwise; then the coverage goes to the parent.
void end_of_run_in_child()
{
    if (g_runs % kRunsPerLeakCheck == 0 && __lsan_do_recoverable_leak_check() != 0)
        abort();
    CoverageMailbox& box = mailbox();
    std::copy(box.counters, box.counters + box.size, box.shared);
    box.shared[box.size] = 1;
}

// The fuzzer's handlers would take the child's signals for the parent's: the child gets the
// defaults, so that the real time limit kills it and an interrupt is the program's own business.
void default_signals_in_child()
{
    signal(SIGALRM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
}

}  // namespace

sim::Board& board()
{
    static sim::Board b;
    // Below the fuzzer's own timeout, so that a child stuck in real time shows as a hang here.
    b.real_limit_seconds = 20;
    return b;
}

sim::Run run(const std::function<int()>& body, bool hang_allowed)
{
    sim::Board& b = board();
    CoverageMailbox& box = mailbox();
    box.shared[box.size] = 0;
    ++g_runs;
    b.at_run_end = end_of_run_in_child;
    sim::Run r = b.run([&body] {
        default_signals_in_child();
        return body();
    });
    if (box.shared[box.size] != 0)
        std::copy(box.shared, box.shared + box.size, box.counters);
    require(r.end != sim::End::Crashed, "the run did not crash", &r);
    require(hang_allowed || r.end != sim::End::Hung, "the run did not hang", &r);
    return r;
}

void require(bool holds, const char* property, const sim::Run* run)
{
    if (holds)
        return;
    if (run != nullptr) {
        // The tail is what led up to the failure; a long run's output would bury the message.
        const size_t keep = 4000;
        const std::string& out = run->out;
        fprintf(stderr,
                "---- run ended %d (value %d) after %llu us; output tail:\n%s\n---- stderr tail:\n%s\n",
                static_cast<int>(run->end), run->value, static_cast<unsigned long long>(run->elapsed_us),
                out.substr(out.size() > keep ? out.size() - keep : 0).c_str(),
                run->err.substr(run->err.size() > keep ? run->err.size() - keep : 0).c_str());
    }
    fprintf(stderr, "fuzz: property broken: %s\n", property);
    abort();
}

uint8_t Input::byte() { return at_ < size_ ? data_[at_++] : 0; }

uint32_t Input::be16()
{
    uint32_t high = byte();
    return high << 8 | byte();
}

uint32_t Input::be32()
{
    uint32_t high = be16();
    return high << 16 | be16();
}

std::string Input::bytes(size_t count)
{
    size_t n = std::min(count, size_ - std::min(at_, size_));
    std::string part(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return part;
}

}  // namespace fuzz
