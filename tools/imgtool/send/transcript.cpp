#include "imgtool/send/transcript.h"

#include <cstdio>

Transcript::Transcript(const std::string& path) : path_(path)
{
    if (!path.empty())
        file_.open(path, std::ios::trunc);
}

void Transcript::line(const std::string& mark, const std::string& text)
{
    if (!file_.is_open())
        return;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    char stamp[24];
    snprintf(stamp, sizeof stamp, "[%9.3f] ", seconds);
    file_ << stamp << mark << text << '\n';
    // Flushed line by line, so that a transcript is whole up to the moment the tool was killed
    file_.flush();
}
