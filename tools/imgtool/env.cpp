// imgtool env: the boot-loader environment of a flash image, printed back.
#include <vector>

#include "flash/flash_layout.h"
#include "imgtool/boot_option_report.h"
#include "imgtool/command.h"
#include "imgtool/env_block.h"
#include "imgtool/file_command.h"
#include "imgtool/record_file.h"
#include "imgtool/record_types.h"

namespace {

const OptionSpec kOptions[] = {{.name = "--options"}};

void print_help(std::ostream& out)
{
    out << "Usage: imgtool env [--options] FLASH.img\n"
           "Prints the NAME=VALUE strings of the boot-loader environment block at 0x03FE0000 of a 64 MiB\n"
           "flash image, one per line, in the order they are stored.\n"
           "Exit status: 0 when the block is intact, 1 when it is erased, has no end of list, or its CRC\n"
           "word does not match (the strings found are printed all the same).\n"
           "\n"
           "  --options  print the boot options instead, exactly as the launcher reads them from the first\n"
           "             512 bytes after the CRC word: each option's value and the flash address and\n"
           "             variable where its key stands; then a warning for each trap: a key inside another\n"
           "             variable, a key after the end of the list or past the 512 bytes, a later duplicate,\n"
           "             an empty or unreadable number, a CRC word that does not match.\n"
           "             Exit status: 0, or 1 when it warned.\n";
}

const FileCommand kCommand = {"env", kOptions, print_help, "FLASH.img", nullptr, open_flash_image};

}  // namespace

int run_env(const Args& args, Streams io)
{
    ParsedArgs parsed;
    InputFile file;
    if (auto status = start_file_command(kCommand, args, io, parsed, file))
        return *status;

    const std::string& path = parsed.operands.front();
    std::vector<uint8_t> block(FLASH_ENV_SIZE);
    if (!read_bytes(file, FLASH_ENV_BASE, block.data(), FLASH_ENV_SIZE))
        return report_failure(io, "env", "cannot read " + path);

    if (parsed.has("--options"))
        return report_boot_options(block.data(), io.out) ? EXIT_FAILED : EXIT_OK;
    const EnvContents env = decode_env_block(block.data());
    if (env.erased)
        return report_failure(io, "env", path + ": the environment block is erased");
    for (const std::string& variable : env.variables)
        io.out << variable << '\n';
    if (!env.terminated)
        return report_failure(io, "env", path + ": the environment has no end of list");
    if (env.stored_crc != env.computed_crc)
        return report_failure(io, "env",
                              path + ": environment CRC " + hex32(env.stored_crc) +
                                  " does not match its data (" + hex32(env.computed_crc) + ")");
    return EXIT_OK;
}
