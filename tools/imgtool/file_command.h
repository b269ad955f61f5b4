// The commands that work on one input file (app, env, boot): their shared start.
#pragma once

#include <optional>
#include <span>
#include <string>

#include "imgtool/command.h"
#include "imgtool/record_file.h"

struct FileCommand {
    const char* name;
    std::span<const OptionSpec> options;
    void (*print_help)(std::ostream&);
    const char* operand;  // the file as the usage names it: "BINARY", "FLASH.img"
    // The command line's mistakes besides the operand, found before the file is opened; none when null.
    std::optional<std::string> (*mistake)(const ParsedArgs& parsed);
    // open_input, or a stricter opener such as open_flash_image.
    std::optional<std::string> (*open)(const std::string& path, InputFile& file);
};

// Parses args, checks that they name one file and make no other mistake, then opens the file; gives
// the exit status when the command ends there (its help printed, a usage mistake, a file it cannot
// use).
std::optional<int> start_file_command(const FileCommand& command, const Args& args, Streams io,
                                      ParsedArgs& parsed, InputFile& file);
