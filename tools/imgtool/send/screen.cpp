#include "imgtool/send/screen.h"

#include <cstdio>

Screen::Screen(std::ostream& out, std::ostream& err, bool progress_redrawn, std::vector<std::string> boards)
    : out_(out), err_(err), redrawn_(progress_redrawn), names_(std::move(boards)),
      progress_lines_(names_.size()), tenths_shown_(names_.size(), -1)
{}

std::string Screen::prefix(size_t board) const
{
    return names_.size() > 1 && board < names_.size() ? names_[board] + ": " : "";
}

template <typename Print>
void Screen::above_progress(Print print)
{
    if (redrawn_ && drawn_ > 0) {
        err_ << "\033[" << drawn_ << "F\033[J";
        err_.flush();
    }
    print();
    out_.flush();
    err_.flush();
    if (!redrawn_)
        return;
    drawn_ = 0;
    for (size_t board = 0; board < progress_lines_.size(); ++board) {
        if (progress_lines_[board].empty())
            continue;
        err_ << progress_lines_[board] << '\n';
        drawn_++;
    }
    err_.flush();
}

void Screen::console_line(size_t board, const std::string& text)
{
    std::lock_guard lock(mutex_);
    above_progress([&] { out_ << prefix(board) << text << '\n'; });
}

void Screen::note(size_t board, const std::string& text)
{
    std::lock_guard lock(mutex_);
    const std::string name = board < names_.size() ? names_[board] + ": " : "";
    above_progress([&] { err_ << "imgtool send: " << name << text << '\n'; });
}

void Screen::progress(size_t board, const TransferProgress& progress)
{
    std::lock_guard lock(mutex_);
    const std::string line = names_[board] + ": " + progress_text(progress);
    if (redrawn_) {
        progress_lines_[board] = line;
        above_progress([] {});
        return;
    }
    const int tenths = static_cast<int>(progress.percent() / 10);
    if (tenths <= tenths_shown_[board])
        return;
    tenths_shown_[board] = tenths;
    err_ << "imgtool send: " << line << '\n';
    err_.flush();
}

void Screen::end_progress(size_t board)
{
    std::lock_guard lock(mutex_);
    if (!redrawn_ || progress_lines_[board].empty())
        return;
    const std::string last = progress_lines_[board];
    progress_lines_[board].clear();
    above_progress([&] { err_ << last << '\n'; });
}

ConsoleLines::ConsoleLines(Screen* screen, size_t board, Transcript& transcript)
    : screen_(screen), board_(board), transcript_(transcript)
{}

void ConsoleLines::take(const uint8_t* bytes, size_t count)
{
    for (size_t i = 0; i < count; ++i) {
        const uint8_t byte = bytes[i];
        if (byte == 0) {
            garbled_++;
            continue;
        }
        // The receiver's answers are the transfer's, not console text
        if (byte == 0x06 || byte == 0x15 || byte == 0x18)
            continue;
        show_garbled();
        if (byte == '\n') {
            emit();
            show_held_notes();
        } else if (byte == '\t' || (byte >= 0x20 && byte < 0x7F)) {
            open_line_ += static_cast<char>(byte);
        } else if (byte != '\r') {
            char escaped[5];
            snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            open_line_ += escaped;
        }
    }
}

void ConsoleLines::show_garbled()
{
    if (garbled_ == 0)
        return;
    // What a UART reads of characters sent at another speed: framing errors, read as NULs
    open_line_ += '<';
    open_line_ += std::to_string(garbled_);
    open_line_ += " garbled bytes>";
    garbled_ = 0;
}

void ConsoleLines::pause()
{
    show_garbled();
    if (!open_line_.empty())
        emit();
    show_held_notes();
}

void ConsoleLines::note(const std::string& text)
{
    held_notes_.push_back(text);
    if (open_line_.empty() && garbled_ == 0)
        show_held_notes();
}

void ConsoleLines::show_held_notes()
{
    for (const std::string& text : held_notes_) {
        if (screen_ != nullptr)
            screen_->note(board_, text);
        transcript_.line("# ", text);
    }
    held_notes_.clear();
}

void ConsoleLines::emit()
{
    if (screen_ != nullptr)
        screen_->console_line(board_, open_line_);
    transcript_.line("", open_line_);
    open_line_.clear();
}
