#include <sstream>

#include "imgtool/command.h"
#include "imgtool/imgtool.h"

namespace {

struct Command {
    const char* name;
    const char* summary;
    int (*run)(const Args& args, Streams io);
};

const Command kCommands[] = {
    {"pack", "wrap a payload in an image record", run_pack},
    {"info", "list and check the records of download files and flash images", run_info},
    {"flash", "build a 64 MiB flash image from records and environment variables", run_flash},
    {"env", "print the boot-loader environment of a flash image, or the boot options the launcher reads",
     run_env},
    {"boot", "dry-run the board's boot on a flash image with the launcher's own code", run_boot},
    {"app", "make an application archive from an application binary", run_app},
    {"send", "do a rescue download on boards over their serial lines", run_send},
};

// A command's synopsis is the usage of its own help, so that the two cannot differ; continued on one
// line, as the manual page's generator takes each synopsis from one "or:" line.
std::string synopsis_of(const Command& command)
{
    std::ostringstream help;
    std::ostringstream unused;
    command.run({"--help"}, Streams{help, unused});
    std::istringstream lines(help.str());
    std::string line;
    std::getline(lines, line);
    std::string synopsis = line.substr(line.find("imgtool"));
    while (std::getline(lines, line) && line.starts_with(' '))
        synopsis += ' ' + line.substr(line.find_first_not_of(' '));
    return synopsis;
}

void print_help(std::ostream& out)
{
    out << "Usage: imgtool COMMAND [ARGUMENTS...]\n";
    for (const Command& command : kCommands)
        out << "  or:  " << synopsis_of(command) << '\n';
    out << "  or:  imgtool --help | --version\n"
           "Makes and inspects the launcher's image records, download files, 64 MiB flash images,\n"
           "boot-loader environment blocks and application archives, and does the rescue download onto\n"
           "boards over their serial lines.\n"
           "\n"
           "Commands:\n";
    for (const Command& command : kCommands)
        out << "  " << pad(command.name, 7) << command.summary << '\n';
    out << "\n"
           "'imgtool COMMAND --help' describes a command; 'imgtool --version' prints the version.\n"
           "Exit status: 0 for success, 1 for a failure or a damaged input, 2 for a usage error; imgtool send\n"
           "also 3 when no board answered on a line.\n";
}

}  // namespace

int imgtool_main(int argc, const char* const* argv, std::ostream& out, std::ostream& err)
{
    const Streams io{out, err};
    if (argc < 2) {
        err << "imgtool: no command given (see imgtool --help)\n";
        return EXIT_USAGE;
    }
    const std::string name = argv[1];
    if (name == "--help" || name == "-h") {
        print_help(out);
        return EXIT_OK;
    }
    if (name == "--version") {
        out << "imgtool " LAUNCHER_VERSION "\n";
        return EXIT_OK;
    }
    const Args args(argv + 2, argv + argc);
    for (const Command& command : kCommands) {
        if (name == command.name)
            return command.run(args, io);
    }
    err << "imgtool: unknown command '" << name << "' (see imgtool --help)\n";
    return EXIT_USAGE;
}
