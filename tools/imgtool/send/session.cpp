#include "imgtool/send/session.h"

#include <chrono>

#include "imgtool/command.h"
#include "imgtool/send/board_texts.h"
#include "imgtool/send/boot_signs.h"
#include "imgtool/send/conversation.h"
#include "imgtool/send/failure_phrases.h"
#include "imgtool/send/line_events.h"
#include "imgtool/send/serial_line.h"

std::atomic<int> operator_interrupts{0};

namespace {

using Clock = std::chrono::steady_clock;

// The board answers a block within its 2 s drain and the frame's time on the line
constexpr double kAnswersStopped = 5.0;
// Fewer stray bytes than this are noise
constexpr size_t kWrongSpeedBytes = 8;

// One board: the line opened, the steps of the conversation in turn, and the transfer's events
// shown as they come.
class BoardSession : public xmodem::TransferEvents {
public:
    BoardSession(size_t index, Screen& screen, Transcript& transcript, std::span<const uint8_t> download,
                 const std::vector<PlannedRecord>& plan, const SendOptions& options)
        : screen_(screen), index_(index), transcript_(transcript), console_(&screen, index, transcript),
          watch_(line_, console_), download_(download), plan_(plan), options_(options),
          progress_(download.size())
    {}

    BoardResult run(const std::string& line_path)
    {
        if (auto failure = SerialLine::open(line_path, BOARD_CONSOLE_SPEED, line_))
            return watch_.fail(EXIT_NO_BOARD, no_line_text(*failure));
        if (transcript_.failed())
            console_.note(std::string(phrase::NO_TRANSCRIPT) + "; going on without it");
        BoardResult result = serve();
        console_.pause();
        screen_.end_progress(index_);
        line_.close();
        result.seconds = progress_.elapsed();
        result.rate = progress_.rate();
        return result;
    }

    void progress(uint64_t acknowledged, uint64_t) override
    {
        last_answer_ = Clock::now();
        answer_mark_ = watch_.seen().size();
        progress_.update(std::chrono::duration<double>(Clock::now() - started_).count(), acknowledged);
        screen_.progress(index_, progress_);
    }

    void console(std::span<const uint8_t> bytes) override
    {
        watch_.take(bytes);
        // The Enter that starts this tool's transfer was lost: the board reminds, and gets another
        if (watch_.seen().find(board_text::START_REMINDER, reminder_mark_) != std::string::npos) {
            reminder_mark_ = watch_.seen().size();
            watch_.type(keys_text(Keys::StartEnter, ""));
        }
    }

    // A board that prints a restart's line has left its receiver; bytes at the wrong speed say the
    // same once its answers have stopped (noise alone does not stop the answers).
    bool board_left() override
    {
        if (restart_sign(watch_.since(transfer_mark_)))
            return true;
        const double since_answer = std::chrono::duration<double>(Clock::now() - last_answer_).count();
        return since_answer >= kAnswersStopped &&
               wrong_speed_bytes(watch_.since(answer_mark_)) >= kWrongSpeedBytes;
    }

    void resent(unsigned block, const std::string& reason) override
    {
        console_.note("block " + std::to_string(block) + " sent again (" + reason + ")");
    }

    bool interrupted() override
    {
        watch_.pause_if_quiet();
        return operator_interrupts.load() > 0;
    }

private:
    BoardResult serve()
    {
        if (auto failure = find_board(watch_, options_.wait_seconds))
            return *failure;
        // A board found waiting for the Enter that starts a transfer has had it
        if (watch_.phase() != Phase::Receiving) {
            if (auto failure = start_download(watch_))
                return *failure;
        }
        console_.note("sending " + std::to_string(download_.size()) + " bytes");
        reminder_mark_ = transfer_mark_ = answer_mark_ = watch_.seen().size();
        last_answer_ = Clock::now();
        const xmodem::Result sent = xmodem::send(line_, download_, *this, xmodem::Timing{});
        screen_.end_progress(index_);
        if (sent.outcome == xmodem::Outcome::BoardLeft)
            return follow_restart(watch_, decide(Phase::Receiving, Event::RestartSign));
        if (sent.outcome == xmodem::Outcome::LineLost)
            return *watch_.carry_out(decide(Phase::Receiving, Event::LineLost));
        if (sent.outcome == xmodem::Outcome::LineStalled)
            return watch_.fail(EXIT_FAILED, std::string(phrase::ADAPTER_STALLED) + "; nothing was installed");
        if (sent.outcome == xmodem::Outcome::NoReceiver)
            return watch_.fail(EXIT_FAILED,
                               std::string(phrase::NEVER_ASKED) + "; power-cycle it and try again");
        if (sent.outcome != xmodem::Outcome::Sent)
            return end_given_up_transfer(watch_, sent);
        // The file is on the board: a first Ctrl-C from here on is noted, and the board is taken on
        // to its menu
        watch_.set_interrupt_limit(2, decide(Phase::EndEnter, Stop::CtrlC).said);
        console_.note("sent in " + duration_text(progress_.elapsed()) + " (" + rate_text(progress_.rate()) +
                      ")" +
                      (sent.resends == 0   ? ""
                       : sent.resends == 1 ? ", 1 block sent again"
                                           : ", " + std::to_string(sent.resends) + " blocks sent again"));
        if (auto failure = switch_back(watch_))
            return *failure;
        return follow_install(watch_, plan_, options_);
    }

    Screen& screen_;
    size_t index_;
    Transcript& transcript_;
    ConsoleLines console_;
    SerialLine line_;
    LineWatch watch_;
    std::span<const uint8_t> download_;
    const std::vector<PlannedRecord>& plan_;
    const SendOptions& options_;
    TransferProgress progress_;
    Clock::time_point started_ = Clock::now();
    size_t reminder_mark_ = 0;
    // Where the transfer's console text starts, and where it stood at the last answer
    size_t transfer_mark_ = 0;
    size_t answer_mark_ = 0;
    Clock::time_point last_answer_ = Clock::now();
};

}  // namespace

BoardResult serve_board(const std::string& line_path, size_t index, Screen& screen, Transcript& transcript,
                        std::span<const uint8_t> download, const std::vector<PlannedRecord>& plan,
                        const SendOptions& options)
{
    BoardSession session(index, screen, transcript, download, plan, options);
    return session.run(line_path);
}
