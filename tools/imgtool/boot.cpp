// imgtool boot: a dry run of the board's boot on a flash image, with the launcher's own code on the
// simulated board, so that an integrator sees what a board will do with an image before flashing it.
#include <exception>
#include <vector>

#include "flash/flash_layout.h"
#include "imgtool/command.h"
#include "imgtool/file_command.h"
#include "imgtool/record_types.h"
#include "imgtool/run_program.h"
#include "launch/launch.h"
#include "sim/board.h"

namespace {

const OptionSpec kOptions[] = {
    {.name = "--slot-byte", .takes_value = true},
    {.name = "--answer", .takes_value = true},
};

constexpr char UNPACK_NOTE[] = "the slot's archive unpacked by tar into a temporary directory";

void print_help(std::ostream& out)
{
    out << "Usage: imgtool boot [--slot-byte N] [--answer KEYS] FLASH.img\n"
           "Boots a 64 MiB flash image on the simulated board with the launcher's own code, and prints the\n"
           "console text the board would print, word for word, from start-up to the hand-over to the\n"
           "application, to the reset, or to the end of the rescue menu. Lines in brackets are not the\n"
           "console's: [shell] a command line the launcher runs through the board's shell, [key] what the\n"
           "console answered, [dry run] what imgtool did in the board's place, [hand-over] the program\n"
           "that would take over the process, [exit] the launcher's exit status (after \"reboot\").\n"
           "\n"
           "Nothing the board would run is run. Only the unpacking (tar) and the debugger's decompression\n"
           "(gunzip) are done, from PATH, into a temporary directory that stands for the board's /tmp, so\n"
           "that the launch finds what the slot's archive holds (a missing marker file shows as the\n"
           "board's question).\n"
           "\n"
           "  --slot-byte N  the VPD EEPROM's slot byte (default 1, as after a fresh install): 2 boots slot 2\n"
           "                 first, any other value slot 1\n"
           "  --answer KEYS  the keys typed at the console, one at each prompt of the rescue menu or the\n"
           "                 incompatible-image question (default E); after the last, the input has ended\n"
           "\n"
           "Exit status: 0 when the launch starts (a slot's archive is unpacked), 1 when the board resets\n"
           "before, or the image cannot be read.\n";
}

// Runs in the board's place: the unpacking of the archive and the debugger's decompression, in the
// board's temporary /tmp.  Every other command line is only recorded.
void stand_in_for_the_board(sim::Board& board)
{
    board.shell.on_prefix("cd /tmp \ntar ", [](sim::Board& b, const std::string&) {
        auto failure = run_program({"tar", "-x", "-m", "-z", "--no-same-owner", "--no-same-permissions", "-f",
                                    b.host_path(APP_ARCHIVE_PATH), "-C", b.tmp_dir()},
                                   true);
        sim::Board::note(failure ? std::string("tar found no gzip-compressed tar in the slot's archive")
                                 : std::string(UNPACK_NOTE));
        return failure ? 1 : 0;
    });
    board.shell.on_prefix("gunzip /tmp/", [](sim::Board& b, const std::string& command) {
        auto failure = run_program({"gunzip", "-f", "--", b.host_path(command.substr(7))}, true);
        sim::Board::note(failure ? "gunzip found no gzip-compressed debugger"
                                 : "the debugger decompressed by gunzip into a temporary directory");
        return failure ? 1 : 0;
    });
}

// The console text as it is, and the dry run's own lines between its lines: one that comes while the
// board is in the middle of a line (a key typed at a prompt) waits for the line's end, so that the
// console's text stays word for word.
class Transcript {
public:
    explicit Transcript(std::ostream& out) : out_(out) {}
    ~Transcript()
    {
        if (!waiting_.empty())
            out_ << '\n' << waiting_;
    }
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    void console(const std::string& text)
    {
        for (char c : text) {
            out_ << c;
            at_line_start_ = c == '\n';
            if (at_line_start_) {
                out_ << waiting_;
                waiting_.clear();
            }
        }
    }
    void annotate(const std::string& tag, const std::string& text)
    {
        const std::string line = '[' + tag + "] " + text + '\n';
        if (at_line_start_)
            out_ << line;
        else
            waiting_ += line;
    }
    // A command line, a line of its own for each line of the script, as the shell reads them.
    void shell(const std::string& command)
    {
        size_t start = 0;
        while (start < command.size()) {
            size_t end = command.find('\n', start);
            if (end == std::string::npos)
                end = command.size();
            std::string line = command.substr(start, end - start);
            line.erase(line.find_last_not_of(' ') + 1);
            annotate("shell", line);
            start = end + 1;
        }
    }

private:
    std::ostream& out_;
    bool at_line_start_ = true;
    std::string waiting_;
};

std::string hand_over(const sim::Run& run)
{
    std::string text = run.exec_path + " takes over the process, arguments:";
    for (const std::string& arg : run.exec_argv)
        text += " \"" + arg + '"';
    return text + ", environment: the launcher's own (not run)";
}

// Gives whether the launch started.
bool print_run(const sim::Run& run, std::ostream& out)
{
    Transcript transcript(out);
    bool launched = false;
    for (const sim::Event& event : run.events) {
        switch (event.kind) {
        case sim::Event::Kind::Out:
        case sim::Event::Kind::Err:
            transcript.console(event.text);
            break;
        case sim::Event::Kind::Shell:
            transcript.shell(event.text);
            break;
        case sim::Event::Kind::Key:
            transcript.annotate("key", event.text);
            break;
        case sim::Event::Kind::Note:
            launched = launched || event.text == UNPACK_NOTE;
            transcript.annotate("dry run", event.text);
            break;
        case sim::Event::Kind::Exec:
            transcript.annotate("hand-over", hand_over(run));
            break;
        case sim::Event::Kind::Exit:
            transcript.annotate("exit", "status " + event.text);
            break;
        default:
            break;
        }
    }
    if (run.end == sim::End::Hung)
        transcript.annotate("dry run", "the launcher was still running after a day of board time");
    if (run.end == sim::End::Crashed)
        transcript.annotate("dry run", "the launcher crashed (" + std::to_string(run.value) + ")");
    return launched && run.end != sim::End::Crashed;
}

std::optional<uint8_t> slot_byte_of(const ParsedArgs& parsed)
{
    const std::optional<uint32_t> value = parse_u32(parsed.value("--slot-byte").value_or("1"));
    if (!value || *value > 0xFF)
        return std::nullopt;
    return static_cast<uint8_t>(*value);
}

std::optional<std::string> usage_mistake(const ParsedArgs& parsed)
{
    if (!slot_byte_of(parsed))
        return "--slot-byte takes a byte, 0 to 255";
    return std::nullopt;
}

const FileCommand kCommand = {"boot", kOptions, print_help, "FLASH.img", usage_mistake, open_flash_image};

}  // namespace

int run_boot(const Args& args, Streams io)
{
    ParsedArgs parsed;
    InputFile file;
    if (auto status = start_file_command(kCommand, args, io, parsed, file))
        return *status;

    const std::string& path = parsed.operands.front();
    std::vector<uint8_t> image(FLASH_IMAGE_SIZE);
    if (!read_bytes(file, 0, image.data(), FLASH_IMAGE_SIZE))
        return report_failure(io, "boot", "cannot read " + path);

    try {
        sim::Board board;
        board.flash.load(0, image);
        board.i2c.eeprom()[1] = *slot_byte_of(parsed);
        board.console.keys(parsed.value("--answer").value_or("E"));
        stand_in_for_the_board(board);
        io.out.flush();
        const sim::Run run = board.run([] { return launcher_main(0, nullptr); });
        return print_run(run, io.out) ? EXIT_OK : EXIT_FAILED;
    } catch (const std::exception& failure) {
        return report_failure(io, "boot", failure.what());
    }
}
