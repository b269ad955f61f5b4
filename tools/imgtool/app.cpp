// imgtool app: an application archive, the payload of an application record.  The compression is
// left to the programs the board's own tools are compatible with, xz and tar, run from PATH.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "imgtool/command.h"
#include "imgtool/file_command.h"
#include "imgtool/run_program.h"

namespace fs = std::filesystem;

namespace {

const OptionSpec kOptions[] = {
    {.name = "--name", .takes_value = true},
    {.name = "-o", .takes_value = true},
    {.name = "--no-marker"},
};

void print_help(std::ostream& out)
{
    out << "Usage: imgtool app [--no-marker] [--name TEXT] BINARY -o ARCHIVE.tar.gz\n"
           "Makes an application archive, the payload of an application record (imgtool pack --type\n"
           "application): a gzip-compressed tar holding\n"
           "  home/bin/mp.elf.strip.lzma  BINARY in the .lzma (LZMA-alone) format the board decompresses\n"
           "  home/bin/distro-id          the marker of a compatible image\n"
           "\n"
           "  --no-marker  leave the marker out: the board then suspects an incompatible image and offers\n"
           "               its rescue menu before starting it\n"
           "  --name TEXT  the marker's text (default: an empty marker)\n"
           "  -o ARCHIVE   the archive to write\n"
           "\n"
           "Runs xz (--format=lzma) and tar (--gzip) from PATH.\n";
}

// A directory of our own to lay out the archive's tree in, removed with everything in it.
class StagingDir {
public:
    StagingDir()
    {
        std::error_code error;
        std::string pattern = (fs::temp_directory_path(error) / "imgtool-app-XXXXXX").string();
        if (!error && mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~StagingDir()
    {
        std::error_code error;
        if (!path_.empty())
            fs::remove_all(path_, error);
    }
    StagingDir(const StagingDir&) = delete;
    StagingDir& operator=(const StagingDir&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::optional<std::string> lay_out_tree(const std::string& binary, const std::optional<std::string>& marker,
                                        const fs::path& root)
{
    const fs::path bin = root / "home" / "bin";
    std::error_code error;
    fs::create_directories(bin, error);
    if (!error)
        fs::copy_file(binary, bin / "mp.elf.strip", error);
    if (error)
        return "cannot copy " + binary + ": " + error.message();
    // xz replaces the file with its compressed form, name and mode kept, ".lzma" added.
    if (auto failure = run_program({"xz", "--format=lzma", "--", (bin / "mp.elf.strip").string()}))
        return failure;
    if (!marker)
        return std::nullopt;
    std::ofstream out(bin / "distro-id", std::ios::binary);
    if (!(out << *marker) || !out.flush())
        return "cannot write the marker";
    return std::nullopt;
}

std::optional<std::string> usage_mistake(const ParsedArgs& parsed)
{
    if (!parsed.has("-o"))
        return "missing -o ARCHIVE";
    if (parsed.has("--no-marker") && parsed.has("--name"))
        return "--name gives the text of the marker that --no-marker leaves out";
    return std::nullopt;
}

const FileCommand kCommand = {"app", kOptions, print_help, "BINARY", usage_mistake, open_input};

}  // namespace

int run_app(const Args& args, Streams io)
{
    ParsedArgs parsed;
    InputFile input;
    if (auto status = start_file_command(kCommand, args, io, parsed, input))
        return *status;

    const std::string& binary = parsed.operands.front();
    std::optional<std::string> marker;
    if (!parsed.has("--no-marker"))
        marker = parsed.has("--name") ? *parsed.value("--name") + "\n" : "";

    StagingDir staging;
    if (staging.path().empty())
        return report_failure(io, "app", "cannot make a temporary directory");
    if (auto failure = lay_out_tree(binary, marker, staging.path()))
        return report_failure(io, "app", *failure);
    std::error_code error;
    const fs::path archive = fs::absolute(*parsed.value("-o"), error);
    // Owner and format chosen so that the board's tar unpacks it as root, whoever built it.
    if (auto failure = run_program({"tar", "--create", "--gzip", "--format=ustar", "--sort=name", "--owner=0",
                                    "--group=0", "--numeric-owner", "--file", archive.string(), "-C",
                                    staging.path().string(), "home"})) {
        fs::remove(archive, error);
        return report_failure(io, "app", *failure);
    }
    return EXIT_OK;
}
