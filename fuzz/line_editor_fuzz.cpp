// The console line editor fed fuzzed keys, interrupts and buffer sizes.  The line handed back
// always ends inside the buffer with nothing but zeros behind it and holds no control byte, and
// what the echo leaves on the operator's terminal line is exactly that line.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "launch/launch.h"
#include "rescue/rescue_internal.h"

namespace {

constexpr uint8_t kEscape = 0xFE;  // in the input: 0xFE 0 is an interrupt, 0xFE 1 a signal
const std::string kBreak = " <break>\n";

std::vector<sim::ConsoleInput> keys_from(fuzz::Input& in)
{
    std::vector<sim::ConsoleInput> keys;
    while (!in.empty()) {
        uint8_t key = in.byte();
        if (key == kEscape) {
            key = in.byte();
            if (key == 0 || key == 1) {
                keys.push_back(
                    {key == 0 ? sim::ConsoleInput::Kind::Interrupt : sim::ConsoleInput::Kind::Signal});
                continue;
            }
        }
        keys.push_back({sim::ConsoleInput::Kind::Key, key});
    }
    return keys;
}

// The terminal line the echo draws: printable bytes overwrite and advance, a backspace steps back,
// NUL and the bell leave it alone; the line feed ends it.  False when the echo tries to leave the
// line on the left or sends anything else.
bool draw(const std::string& echo, std::string* screen)
{
    size_t column = 0;
    for (unsigned char c : echo) {
        if (c == '\n')
            return true;
        if (c == '\b') {
            if (column == 0)
                return false;
            --column;
        } else if (c >= 32) {
            if (column == screen->size())
                screen->push_back(static_cast<char>(c));
            else
                (*screen)[column] = static_cast<char>(c);
            ++column;
        } else if (c != '\0' && c != '\a') {
            return false;
        }
    }
    return false;
}

// Whether the echo leaves exactly the line on the terminal, with nothing but blanks after it.
bool shows(const std::string& echo, const std::string& line)
{
    std::string screen;
    return draw(echo, &screen) && screen.compare(0, line.size(), line) == 0 &&
           screen.find_first_not_of(' ', line.size()) == std::string::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    const int buffer_size = in.byte() % 80 + 1;
    sim::Board& board = fuzz::board();
    board.console.input = keys_from(in);

    sim::Run r = fuzz::run([buffer_size] {
        sig_init();
        // Exactly the caller's size on the heap, filled with garbage as a caller's buffer may be.
        std::vector<char> buffer(static_cast<size_t>(buffer_size), 'U');
        char* line = get_user_input(buffer.data(), buffer_size);
        sim::Board::note(std::string(buffer.data(), buffer.size()));
        return line == buffer.data() ? 1 : 0;
    });
    fuzz::require(r.end == sim::End::Returned && r.value == 1, "the editor gives back the caller's buffer",
                  &r);
    std::string buffer;
    for (const sim::Event& e : r.events)
        if (e.kind == sim::Event::Kind::Note)
            buffer = e.text;
    fuzz::require(buffer.size() == static_cast<size_t>(buffer_size), "the buffer comes back whole", &r);
    const std::string line = buffer.substr(0, buffer.find('\0'));
    fuzz::require(line.size() < buffer.size(), "the line ends inside the buffer", &r);
    fuzz::require(buffer.find_first_not_of('\0', line.size()) == std::string::npos, "zeros behind the line",
                  &r);
    for (unsigned char c : line)
        fuzz::require(c >= 32 && c != 127, "no control byte in the line", &r);

    // A break shows its mark where the terminal's cursor stands, which is not part of the line; the
    // operator may also have typed the mark's text.
    const std::string& echo = r.out;
    const bool may_have_broken =
        echo.size() >= kBreak.size() && echo.compare(echo.size() - kBreak.size(), kBreak.size(), kBreak) == 0;
    fuzz::require(shows(echo, line) ||
                      (may_have_broken && shows(echo.substr(0, echo.size() - kBreak.size()) + "\n", line)),
                  "the echo draws the line on the terminal and ends it", &r);
    return 0;
}
