// Running imgtool in-process on files in a test's own directory, and records built by the test
// itself so that a wrong constant or CRC in the tool shows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

ToolRun imgtool(const std::vector<std::string>& args);

// A directory of the test's own, removed with its files.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    std::string path(const std::string& name) const;
    // Writes bytes into the named file and gives its path.
    std::string write(const std::string& name, const std::string& bytes) const;
    std::string read(const std::string& name) const;
    bool exists(const std::string& name) const;

private:
    std::string dir_;
};

// The word as four bytes, most significant first.
std::string be32(uint32_t word);
// A record as the board expects it: header words crc, len, magic, id, then the payload, with the
// CRC computed by the tests' own bitwise routine.
std::string make_record(uint32_t magic, const std::string& payload, uint32_t id = 0);
// The standard CRC-32 (with its final inversion) of the bytes, by the same routine.
uint32_t standard_crc32(const std::string& bytes);
