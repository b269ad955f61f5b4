// What the commands of imgtool share: their streams, exit statuses and command-line parsing.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

struct Streams {
    std::ostream& out;
    std::ostream& err;
};

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;
// imgtool send: no board answered on a line
constexpr int EXIT_NO_BOARD = 3;

// A command's arguments, the command's name not included.
using Args = std::vector<std::string>;

int run_pack(const Args& args, Streams io);
int run_info(const Args& args, Streams io);
int run_flash(const Args& args, Streams io);
int run_env(const Args& args, Streams io);
int run_app(const Args& args, Streams io);
int run_send(const Args& args, Streams io);

struct OptionSpec {
    const char* name;
    bool takes_value = false;
    bool repeatable = false;
};

struct ParsedArgs {
    bool help = false;
    std::map<std::string, std::vector<std::string>> options;  // values in the order given; flags hold ""
    std::vector<std::string> operands;

    bool has(const std::string& name) const { return options.count(name) != 0; }
    // The value of an option that is given at most once.
    std::optional<std::string> value(const std::string& name) const;
};

// Splits args into options of specs (and --help, which every command takes) and operands; "--"
// ends the options.  Gives the message of the first mistake.
std::optional<std::string> parse_args(const Args& args, std::span<const OptionSpec> specs,
                                      ParsedArgs& parsed);

// The prologue of every command: parses args into parsed and gives the exit status when the command
// ends there, after a usage mistake or with its help printed on --help.
std::optional<int> parse_command(const char* command, const Args& args, std::span<const OptionSpec> specs,
                                 void (*print_help)(std::ostream&), Streams io, ParsedArgs& parsed);

// Says "imgtool COMMAND: message" on standard error; gives status.
int report_failure(Streams io, const char* command, const std::string& message, int status = EXIT_FAILED);
// A mistake in the command line, with the pointer to the command's help.
int report_usage(Streams io, const char* command, const std::string& message);

// A 32-bit number written in decimal or as 0x-prefixed hexadecimal.
std::optional<uint32_t> parse_u32(const std::string& text);
// "0x" and eight lower-case hexadecimal digits.
std::string hex32(uint32_t value);
// text with spaces after it up to width, for columns.
std::string pad(const std::string& text, size_t width);
// A file offset in the same form, with more digits where it needs them.
std::string hex_offset(uint64_t offset);
