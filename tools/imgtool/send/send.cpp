// imgtool send: the technician's rescue download in one command, on every board line given at once.
#include <algorithm>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <variant>

#include "imgtool/command.h"
#include "imgtool/download_walk.h"
#include "imgtool/record_types.h"
#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/serial_line.h"
#include "imgtool/send/session.h"
#include "imgtool/send/stop_signals.h"
#include "imgtool/send/terminal.h"

namespace {

const OptionSpec kOptions[] = {
    {.name = "--line", .takes_value = true, .repeatable = true},
    {.name = "--slot", .takes_value = true},
    {.name = "--wait", .takes_value = true},
    {.name = "--verify"},
    {.name = "--log", .takes_value = true},
    {.name = "--terminal"},
};

void print_help(std::ostream& out)
{
    out << "Usage: imgtool send --line DEV [--line DEV...] [--slot 1|2|boot] [--wait SECONDS] [--verify]\n"
           "                    [--log FILE] [--terminal] DOWNLOAD\n"
           "Does the whole rescue download over each board's serial line (console and download port on one\n"
           "line): finds the board at its rescue menu, presses X, switches to the speed the board asks for,\n"
           "sends DOWNLOAD with XMODEM-1K, switches back, answers the installer and follows it to the end.\n"
           "DOWNLOAD is checked first, as imgtool info checks it: a 64 MiB flash image, a file with no\n"
           "record, a record with a bad CRC or too big for its flash area, or an application without --slot\n"
           "is refused before any line is touched.\n"
           "\n"
           "  --line DEV      the board's serial line, e.g. /dev/ttyUSB0; repeat it to serve several boards\n"
           "                  at once, each with its own progress line and a row in the table at the end\n"
           "  --slot 1|2|boot where an application record goes: slot 1 or 2 (and the board boots that slot\n"
           "                  from then on), or boot: run it once without writing it to flash\n"
           "  --wait SECONDS  how long to wait for the rescue menu (default 60): time to power the board on.\n"
           "                  A board already at its menu is woken with a y, which the menu shows again; the\n"
           "                  board's recovery question is answered y\n"
           "  --verify        after the install press R and watch the next boot: it must boot the slot just\n"
           "                  written (E is pressed if the rescue menu comes back); the application's first\n"
           "                  line is shown\n"
           "  --log FILE      keep every board's console transcript with times in FILE (with several lines,\n"
           "                  in FILE.<device name> each, FILE.<device name>.<n> for the nth --line whose\n"
           "                  device name an earlier one has)\n"
           "  --terminal      afterwards, stay as a plain terminal on the line (one line only), its session\n"
           "                  kept in the --log transcript too; Ctrl-] ends it\n"
           "\n"
           "The board's console lines go to standard output as they come (prefixed with the line when there\n"
           "are several); progress and the tool's own notes to standard error. Ctrl-C during the transfer\n"
           "cancels it: the board gives it up within about 20 s, nothing is written, and the tool switches the\n"
           "board back to its menu before it ends; Ctrl-C again leaves at once. SIGTERM and SIGHUP leave at\n"
           "once, a transfer cancelled and the line's settings and the terminal's mode put back.\n"
           "\n"
           "Exit status: 0 when every board installed every record (and, with --verify, booted the new slot);\n"
           "1 when a board reported a failure, gave the transfer up, or went away; 2 for bad usage or a bad\n"
           "DOWNLOAD; 3 when no board answered on a line.\n";
}

struct Plan {
    std::vector<PlannedRecord> records;
    std::string description;
};

// The download's records as the board's installer will take them, or the reason the board would
// refuse the file.
std::variant<Plan, std::string> plan_download(InputFile& file, const std::string& path,
                                              const SendOptions& options)
{
    if (is_flash_image(file))
        return path + " " + std::string(phrase::FLASH_IMAGE) +
               " (64 MiB, for a flash programmer): give the download file, the records themselves one after "
               "the other";
    const DownloadWalk walk = walk_download(file);
    if (walk.records.empty())
        return path + " " + std::string(phrase::NO_RECORD) + " (" + walk.end.reason + " at offset 0)";
    Plan plan;
    for (const WalkedRecord& record : walk.records) {
        const RecordType* type = record_type_of(record.check.header.magic);
        const std::string where =
            "the " + std::string(type->name) + " record at " + hex_offset(record.offset);
        if (record.check.state == RecordState::CutShort)
            return path + ": " + where + " " + std::string(phrase::CUT_SHORT);
        if (record.check.state == RecordState::Unreadable)
            return std::string(phrase::CANNOT_READ) + " " + path;
        const RecordArea* area = record_area(record.check.header.magic);
        const bool installed = area != nullptr;
        if (installed && record.check.state == RecordState::BadCrc)
            return path + ": " + where + " " + std::string(phrase::BAD_CRC) + " (stored " +
                   hex32(record.check.header.crc) + ", computed " + hex32(record.check.computed_crc) +
                   "): the board would refuse it";
        const bool is_application = record.check.header.magic == IMAGE_MAGIC_APPLICATION;
        if (is_application && !options.slot.has_value() && !options.boot)
            return path + " " + std::string(phrase::NEEDS_SLOT) + " with --slot 1, --slot 2 or --slot boot";
        const bool booted = is_application && options.boot;
        if (installed && !booted && record.check.header.len > max_payload(*type))
            return path + ": " + where + " " + std::string(phrase::TOO_BIG) + " (" + limit_text(*type) + ")";
        plan.records.push_back({type->name, installed});
        std::string item =
            std::string(type->name) + " (" + std::to_string(record.check.header.len) + " bytes";
        if (is_application)
            item += booted ? ", booted at once" : ", slot " + std::to_string(*options.slot);
        else if (installed)
            item += " at " + hex32(area->base);
        item += installed ? ")" : ", passed over by the board)";
        plan.description += (plan.description.empty() ? "" : ", ") + item;
    }
    if (!walk.end.normal)
        return path + ": " + std::string(phrase::RECORDS_END_EARLY) + " " + walk.end.reason + " at offset " +
               hex_offset(walk.end_offset);
    // The board's installer passes over diagnostics and type5 records without a word
    if (std::none_of(plan.records.begin(), plan.records.end(),
                     [](const PlannedRecord& r) { return r.installed; }))
        return path + " " + std::string(phrase::NOTHING_INSTALLED) +
               " (only records it passes over): " + plan.description;
    if ((options.slot || options.boot) &&
        std::none_of(plan.records.begin(), plan.records.end(),
                     [](const PlannedRecord& r) { return r.type == "application"; }))
        return std::string(phrase::SLOT_WITHOUT_APPLICATION) + ", and " + path + " holds none";
    return plan;
}

std::optional<std::vector<uint8_t>> read_whole(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail())
        return std::nullopt;
    return bytes;
}

// One transcript per line: FILE itself for one line, FILE.<device name> for several; a device name
// that an earlier line has taken gets the line's position too (FILE.3.2 for a second /dev/pts/3).
std::vector<std::string> log_paths(const std::optional<std::string>& log,
                                   const std::vector<std::string>& lines)
{
    std::vector<std::string> paths;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string path;
        if (log)
            path =
                lines.size() == 1 ? *log : *log + "." + std::filesystem::path(lines[i]).filename().string();
        // Appended piece by piece: GCC 12 at -O3 takes "." + a temporary for an overlapping copy
        // (-Wrestrict), which fails the optimised tools build
        if (log && std::find(paths.begin(), paths.end(), path) != paths.end())
            path.append(".").append(std::to_string(i + 1));
        paths.push_back(path);
    }
    return paths;
}

// Two names of one device (a link under /dev/serial/by-id and its tty, say) would have two boards'
// conversations read each other's answers.
std::optional<std::string> same_device_twice(const std::vector<std::string>& lines)
{
    std::map<dev_t, std::string> named;
    for (const std::string& line : lines) {
        struct stat device {};
        if (stat(line.c_str(), &device) != 0 || !S_ISCHR(device.st_mode))
            continue;
        const auto [earlier, added] = named.emplace(device.st_rdev, line);
        if (!added)
            return "--line " + earlier->second + " and --line " + line + " " +
                   std::string(phrase::SAME_DEVICE);
    }
    return std::nullopt;
}

void print_table(std::ostream& out, const std::vector<std::string>& lines,
                 const std::vector<BoardResult>& results)
{
    size_t line_width = 4, result_width = 6;
    for (size_t i = 0; i < lines.size(); ++i) {
        line_width = std::max(line_width, lines[i].size());
        result_width = std::max(result_width, results[i].summary.size());
    }
    out << '\n'
        << pad("line", line_width + 2) << pad("result", result_width + 2) << pad("time", 9) << "rate\n";
    for (size_t i = 0; i < lines.size(); ++i) {
        const BoardResult& result = results[i];
        const bool transferred = result.seconds > 0;
        out << pad(lines[i], line_width + 2) << pad(result.summary, result_width + 2)
            << pad(transferred ? duration_text(result.seconds) : "-", 9)
            << (transferred ? rate_text(result.rate) : "-") << '\n';
    }
}

int overall_status(const std::vector<BoardResult>& results)
{
    int status = EXIT_OK;
    for (const BoardResult& result : results) {
        if (result.status == EXIT_FAILED)
            return EXIT_FAILED;
        if (result.status == EXIT_NO_BOARD)
            status = EXIT_NO_BOARD;
    }
    return status;
}

std::optional<std::string> read_options(const ParsedArgs& parsed, SendOptions& options)
{
    if (parsed.operands.size() != 1)
        return std::string(phrase::ONE_DOWNLOAD);
    if (!parsed.has("--line"))
        return std::string(phrase::LINE_NEEDED);
    if (auto slot = parsed.value("--slot")) {
        if (*slot == "boot")
            options.boot = true;
        else if (*slot == "1" || *slot == "2")
            options.slot = std::stoi(*slot);
        else
            return std::string(phrase::SLOT_VALUES) + ", not " + *slot;
    }
    if (auto wait = parsed.value("--wait")) {
        const std::optional<uint32_t> seconds = parse_u32(*wait);
        if (!seconds || *seconds == 0 || *seconds > 86400)
            return std::string(phrase::WAIT_VALUES) + " from 1 to 86400, not " + *wait;
        options.wait_seconds = static_cast<int>(*seconds);
    }
    options.verify = parsed.has("--verify");
    if (parsed.has("--terminal") && parsed.options.at("--line").size() != 1)
        return std::string(phrase::TERMINAL_ONE_LINE);
    return same_device_twice(parsed.options.at("--line"));
}

}  // namespace

int run_send(const Args& args, Streams io)
{
    ParsedArgs parsed;
    if (auto status = parse_command("send", args, kOptions, print_help, io, parsed))
        return *status;
    SendOptions options;
    if (auto mistake = read_options(parsed, options))
        return report_usage(io, "send", *mistake);

    const std::string& path = parsed.operands.front();
    InputFile file;
    if (auto failure = open_input(path, file))
        return report_failure(io, "send", *failure, EXIT_USAGE);
    auto planned = plan_download(file, path, options);
    if (auto* refusal = std::get_if<std::string>(&planned))
        return report_failure(io, "send", *refusal, EXIT_USAGE);
    const Plan& plan = std::get<Plan>(planned);
    const std::optional<std::vector<uint8_t>> download = read_whole(path);
    if (!download)
        return report_failure(io, "send", std::string(phrase::CANNOT_READ) + " " + path, EXIT_USAGE);
    io.err << "imgtool send: the board will be asked to install: " << plan.description << '\n';

    const std::vector<std::string>& lines = parsed.options.at("--line");
    // The terminal's hold on the line from the start: a line closed between the download and the
    // terminal would tell a board behind a pseudo-terminal that its operator had gone.  The board's
    // conversation takes the line meanwhile; the terminal takes it after.
    SerialLine terminal_line;
    if (parsed.has("--terminal")) {
        if (auto failure = SerialLine::keep_open(lines.front(), terminal_line))
            return report_failure(io, "send", no_line_text(*failure), EXIT_NO_BOARD);
    }
    const bool redrawn = &io.err == &std::cerr && isatty(STDERR_FILENO) == 1;
    Screen screen(io.out, io.err, redrawn, lines);
    std::vector<BoardResult> results(lines.size());
    // Each board's transcript outlives its download, so that the terminal's session goes on in it
    std::deque<Transcript> transcripts;
    for (const std::string& log : log_paths(parsed.value("--log"), lines))
        transcripts.emplace_back(log);
    const StopSignals stop_signals;
    {
        std::vector<std::thread> boards;
        for (size_t i = 0; i < lines.size(); ++i) {
            boards.emplace_back([&, i] {
                results[i] =
                    serve_board(lines[i], i, screen, transcripts[i], *download, plan.records, options);
            });
        }
        for (std::thread& board : boards)
            board.join();
    }
    print_table(io.out, lines, results);
    if (parsed.has("--terminal") && !leaving_at_once()) {
        if (auto failure = terminal_line.take(BOARD_CONSOLE_SPEED))
            return report_failure(io, "send", std::string(phrase::NO_TERMINAL) + " " + failure->reason,
                                  overall_status(results));
        run_terminal(terminal_line, transcripts.front(), io);
    }
    return overall_status(results);
}
