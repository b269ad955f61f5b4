// Running imgtool in-process on files in a test's own directory.
#pragma once

#include <string>
#include <vector>

#include "record.h"

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
