#include "imgtool/file_command.h"

std::optional<int> start_file_command(const FileCommand& command, const Args& args, Streams io,
                                      ParsedArgs& parsed, InputFile& file)
{
    if (auto status = parse_command(command.name, args, command.options, command.print_help, io, parsed))
        return status;
    if (parsed.operands.size() != 1)
        return report_usage(io, command.name, std::string("expected one ") + command.operand);
    if (command.mistake != nullptr) {
        if (auto mistake = command.mistake(parsed))
            return report_usage(io, command.name, *mistake);
    }
    if (auto failure = command.open(parsed.operands.front(), file))
        return report_failure(io, command.name, *failure);
    return std::nullopt;
}
