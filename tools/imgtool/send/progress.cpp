#include "imgtool/send/progress.h"

#include <cmath>
#include <cstdio>

void TransferProgress::update(double now_seconds, uint64_t acknowledged)
{
    done_ = acknowledged;
    if (acknowledged == 0)
        return;
    if (!started_) {
        started_ = true;
        first_at_ = now_seconds;
        first_done_ = acknowledged;
    }
    last_at_ = now_seconds;
}

unsigned TransferProgress::percent() const
{
    return total_ == 0 ? 100 : static_cast<unsigned>(done_ * 100 / total_);
}

double TransferProgress::rate() const
{
    const double seconds = elapsed();
    return seconds > 0 ? static_cast<double>(done_ - first_done_) / seconds : 0.0;
}

std::optional<double> TransferProgress::seconds_left() const
{
    const double bytes_per_second = rate();
    if (bytes_per_second <= 0)
        return std::nullopt;
    return static_cast<double>(total_ - done_) / bytes_per_second;
}

std::string rate_text(double bytes_per_second)
{
    char text[32];
    snprintf(text, sizeof text, "%.1f KiB/s", bytes_per_second / 1024);
    return text;
}

std::string duration_text(double seconds)
{
    const long whole = std::lround(seconds < 0 ? 0 : seconds);
    char text[32];
    if (whole >= 3600)
        snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

std::string progress_text(const TransferProgress& progress)
{
    std::string text = std::to_string(progress.percent());
    text += " % ";
    text += std::to_string(progress.done());
    text += '/';
    text += std::to_string(progress.total());
    text += " bytes";
    if (progress.rate() > 0) {
        text += ' ';
        text += rate_text(progress.rate());
    }
    if (auto left = progress.seconds_left()) {
        text += ' ';
        text += duration_text(*left);
        text += " left";
    }
    return text;
}
