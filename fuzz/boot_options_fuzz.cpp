// The boot-option parser over a fuzzed environment text area, called directly (no board run): it
// never reads outside the block, each switch comes out as 0 or 1, an option the text does not name
// keeps its value, and the debug server always brings the debugger mode with it.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "fuzz_support.h"
#include "launch/launch.h"
#include "launch/launch_internal.h"

namespace {

constexpr size_t kBlockSize = 512;

// Where the value behind the first occurrence of key starts; npos when key is absent.  The NULs
// between variables become spaces first, which no key holds, so NULs can be searched through.
size_t value_of(std::string_view text, std::string_view key)
{
    size_t at = text.find(key);
    return at == std::string_view::npos ? at : at + key.size();
}

bool value_begins(std::string_view text, std::string_view key, std::string_view prefix)
{
    size_t at = value_of(text, key);
    return at != std::string_view::npos && text.substr(at, prefix.size()) == prefix;
}

bool is_switch(int value) { return value == 0 || value == 1; }

void reset_options()
{
    gdb_enable = 0;
    gdbserver_enable = 0;
    gdbserver = 0;
    gdbport = 0;
    shell_enable = 0;
    memchk_enable = 0;
    rescue_enable = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A block of exactly its size on the heap, so that a read past it is reported.
    auto block = std::make_unique<uint8_t[]>(kBlockSize);
    std::memcpy(block.get(), data, std::min(size, kBlockSize));
    reset_options();
    parse_env_text(*reinterpret_cast<const uint8_t(*)[kBlockSize]>(block.get()));

    std::string_view text(reinterpret_cast<const char*>(block.get()), kBlockSize);
    using fuzz::require;
    require(is_switch(gdb_enable) && is_switch(gdbserver_enable) && is_switch(shell_enable) &&
                is_switch(memchk_enable) && is_switch(rescue_enable),
            "every switch is 0 or 1");
    require(!gdbserver_enable || gdb_enable, "the debug server brings the debugger mode");
    require(gdbserver_enable == value_begins(text, "gdbserver=", "on"),
            "gdbserver= on switches the server on");
    require(shell_enable == value_begins(text, "shell=", "on"), "shell= on switches the shell on");
    require(memchk_enable == value_begins(text, "memchk=", "on"), "memchk= on switches the checker on");
    require(rescue_enable == value_begins(text, "diagnostics=", "rescue"),
            "diagnostics=rescue asks for rescue");
    require(gdb_enable == (value_begins(text, "gdb=", "on") || gdbserver_enable), "gdb= on or the server");
    require(value_of(text, "gdbport=") != std::string_view::npos || gdbport == 0, "an absent port stays 0");
    require(value_of(text, "gdbserver_ip=") != std::string_view::npos || gdbserver == 0,
            "an absent address stays 0");
    return 0;
}
