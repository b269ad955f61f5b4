#include "imgtool_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "imgtool/imgtool.h"

namespace fs = std::filesystem;

ToolRun imgtool(const std::vector<std::string>& args)
{
    std::vector<const char*> argv = {"imgtool"};
    for (const std::string& arg : args)
        argv.push_back(arg.c_str());
    std::ostringstream out, err;
    const int status = imgtool_main(static_cast<int>(argv.size()), argv.data(), out, err);
    return {status, out.str(), err.str()};
}

TempDir::TempDir()
{
    std::string pattern = (fs::temp_directory_path() / "imgtool-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr)
        dir_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code error;
    if (!dir_.empty())
        fs::remove_all(dir_, error);
}

std::string TempDir::path(const std::string& name) const { return dir_ + "/" + name; }

std::string TempDir::write(const std::string& name, const std::string& bytes) const
{
    std::ofstream(path(name), std::ios::binary) << bytes;
    return path(name);
}

std::string TempDir::read(const std::string& name) const
{
    std::ifstream in(path(name), std::ios::binary);
    std::string bytes(fs::file_size(path(name)), '\0');
    in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return bytes;
}

bool TempDir::exists(const std::string& name) const { return fs::exists(path(name)); }
