#include "imgtool_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "imgtool/imgtool.h"
#include "tests/crc/crc_bitwise.h"

namespace fs = std::filesystem;

namespace {

uint32_t crc_of(const std::string& bytes)
{
    return crc_bitwise(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<uint32_t>(bytes.size()), 0xFFFFFFFF);
}

}  // namespace

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

std::string be32(uint32_t word)
{
    return {static_cast<char>(word >> 24), static_cast<char>(word >> 16), static_cast<char>(word >> 8),
            static_cast<char>(word)};
}

std::string make_record(uint32_t magic, const std::string& payload, uint32_t id)
{
    const std::string covered = be32(static_cast<uint32_t>(payload.size())) + be32(magic) + be32(id) + payload;
    return be32(crc_of(covered)) + covered;
}

uint32_t standard_crc32(const std::string& bytes) { return ~crc_of(bytes); }
