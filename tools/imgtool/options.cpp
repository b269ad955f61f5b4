#include <cstdio>

#include "imgtool/command.h"

namespace {

const OptionSpec* find_spec(std::span<const OptionSpec> specs, const std::string& name)
{
    for (const OptionSpec& spec : specs) {
        if (name == spec.name)
            return &spec;
    }
    return nullptr;
}

bool looks_like_option(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

}  // namespace

std::optional<std::string> ParsedArgs::value(const std::string& name) const
{
    auto found = options.find(name);
    if (found == options.end())
        return std::nullopt;
    return found->second.front();
}

std::optional<std::string> parse_args(const Args& args, std::span<const OptionSpec> specs, ParsedArgs& parsed)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            parsed.operands.insert(parsed.operands.end(), args.begin() + i + 1, args.end());
            return std::nullopt;
        }
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
            continue;
        }
        if (!looks_like_option(arg)) {
            parsed.operands.push_back(arg);
            continue;
        }
        const OptionSpec* spec = find_spec(specs, arg);
        if (spec == nullptr)
            return "unknown option " + arg;
        if (parsed.has(arg) && !spec->repeatable)
            return arg + " given twice";
        if (spec->takes_value && i + 1 == args.size())
            return arg + " needs a value";
        parsed.options[arg].push_back(spec->takes_value ? args[++i] : "");
    }
    return std::nullopt;
}

std::optional<int> parse_command(const char* command, const Args& args, std::span<const OptionSpec> specs,
                                 void (*print_help)(std::ostream&), Streams io, ParsedArgs& parsed)
{
    if (auto mistake = parse_args(args, specs, parsed))
        return report_usage(io, command, *mistake);
    if (!parsed.help)
        return std::nullopt;
    print_help(io.out);
    return EXIT_OK;
}

int report_failure(Streams io, const char* command, const std::string& message, int status)
{
    io.err << "imgtool " << command << ": " << message << '\n';
    return status;
}

int report_usage(Streams io, const char* command, const std::string& message)
{
    return report_failure(io, command, message + " (see imgtool " + command + " --help)", EXIT_USAGE);
}

std::optional<uint32_t> parse_u32(const std::string& text)
{
    const bool is_hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const size_t first = is_hex ? 2 : 0;
    const uint64_t base = is_hex ? 16 : 10;
    if (text.size() == first)
        return std::nullopt;
    uint64_t value = 0;
    for (size_t i = first; i < text.size(); ++i) {
        const char c = text[i];
        uint64_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint64_t>(c - '0');
        else if (is_hex && c >= 'a' && c <= 'f')
            digit = static_cast<uint64_t>(c - 'a' + 10);
        else if (is_hex && c >= 'A' && c <= 'F')
            digit = static_cast<uint64_t>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * base + digit;
        if (value > 0xFFFFFFFF)
            return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

std::string hex32(uint32_t value)
{
    char text[11];
    snprintf(text, sizeof text, "0x%08x", value);
    return text;
}

std::string pad(const std::string& text, size_t width)
{
    return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
}

std::string hex_offset(uint64_t offset)
{
    char text[19];
    snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(offset));
    return text;
}
