// imgtool send --log: a board's transcript, kept from the first line of its download to the end of
// the terminal that may follow it.
#pragma once

#include <chrono>
#include <fstream>
#include <string>

class Transcript {
public:
    // No file, and nothing kept, for an empty path.
    explicit Transcript(const std::string& path);

    // A file was asked for and cannot be written.
    bool failed() const { return !path_.empty() && !file_.is_open(); }
    // "[   12.345] " (the seconds since the transcript began), mark, text and a line end.
    void line(const std::string& mark, const std::string& text);

private:
    std::string path_;
    std::ofstream file_;
    std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
};
