#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "rescue/rescue.h"
#include "rescue/rescue_internal.h"

namespace {

constexpr uint8_t CTRL_A = 1;
constexpr uint8_t CTRL_B = 2;
constexpr uint8_t CTRL_C = 3;
constexpr uint8_t CTRL_D = 4;
constexpr uint8_t CTRL_F = 6;
constexpr uint8_t BEL = 7;
constexpr uint8_t BS = 8;
constexpr uint8_t LF = 10;
constexpr uint8_t CR = 13;
constexpr uint8_t ESC = 27;
constexpr uint8_t DEL = 127;

enum class EscapeState { Normal, AfterEscape, ControlSequence };

// The buffer always holds the line NUL-terminated with nothing but zeros behind it, and the
// terminal's cursor stands on the column of the buffer's cursor.
struct LineEditor {
    char* buffer;
    int cursor;
    int free_count;
    EscapeState escape;
    bool done;
};

char at_cursor(const LineEditor& ed) { return ed.buffer[ed.cursor]; }

void move_left(LineEditor& ed)
{
    if (ed.cursor == 0)
        return;
    ed.cursor--;
    uartPutC(BS);
}

void move_right(LineEditor& ed)
{
    if (at_cursor(ed) == '\0')
        return;
    uartPutC(at_cursor(ed));
    ed.cursor++;
}

void move_to_start(LineEditor& ed)
{
    while (ed.cursor > 0)
        move_left(ed);
}

// The NUL echoed in place of the deleted character does not move the terminal's cursor, so the BS
// that follow the blanking space bring it back exactly to the buffer's cursor.
void delete_at_cursor(LineEditor& ed)
{
    char* deleted = ed.buffer + ed.cursor;
    size_t tail = strlen(deleted + 1);
    uartPutC('\0');
    for (size_t i = 1; i <= tail; i++)
        uartPutC(deleted[i]);
    memmove(deleted, deleted + 1, tail + 1);
    uartPutC(' ');
    for (size_t i = 0; i <= tail; i++)
        uartPutC(BS);
    ed.free_count++;
}

void delete_under_cursor(LineEditor& ed)
{
    if (at_cursor(ed) == '\0')
        return;
    delete_at_cursor(ed);
}

void delete_left(LineEditor& ed)
{
    if (ed.cursor == 0)
        return;
    move_left(ed);
    delete_at_cursor(ed);
}

// A character goes in only while more than one byte is free, so the line's terminator always fits.
void insert(LineEditor& ed, uint8_t key)
{
    if (ed.free_count <= 1) {
        uartPutC(BEL);
        return;
    }
    char* at = ed.buffer + ed.cursor;
    size_t tail = strlen(at);
    uartPutC(key);
    for (size_t i = 0; i < tail; i++)
        uartPutC(at[i]);
    memmove(at + 1, at, tail + 1);
    for (size_t i = 0; i < tail; i++)
        uartPutC(BS);
    *at = static_cast<char>(key);
    ed.cursor++;
    ed.free_count--;
}

void end_line(LineEditor& ed)
{
    uartPutC(LF);
    ed.done = true;
}

// The line typed so far stays in the buffer: a break is not a cancel.
void break_line(LineEditor& ed)
{
    puts(" <break>");
    ed.done = true;
}

void handle_normal_key(LineEditor& ed, uint8_t key)
{
    switch (key) {
    case CTRL_A:
        move_to_start(ed);
        return;
    case CTRL_B:
        move_left(ed);
        return;
    case CTRL_C:
        break_line(ed);
        return;
    case CTRL_D:
        delete_under_cursor(ed);
        return;
    case CTRL_F:
        move_right(ed);
        return;
    case BS:
    case DEL:
        delete_left(ed);
        return;
    case LF:
    case CR:
        end_line(ed);
        return;
    case ESC:
        ed.escape = EscapeState::AfterEscape;
        return;
    }
    if (key < 32) {
        uartPutC(BEL);
        return;
    }
    insert(ed, key);
}

void handle_escaped_key(LineEditor& ed, uint8_t key)
{
    ed.escape = EscapeState::Normal;
    if (key == '[') {
        ed.escape = EscapeState::ControlSequence;
        return;
    }
    // ESC BS and ESC DEL delete to the left, as BS and DEL alone do.
    handle_normal_key(ed, key);
}

// Only the final byte of a sequence counts; the cursor keys are the only sequences understood.
void handle_sequence_key(LineEditor& ed, uint8_t key)
{
    if ((key >= '0' && key <= '9') || key == ';')
        return;
    ed.escape = EscapeState::Normal;
    if (key == 'C')
        move_right(ed);
    else if (key == 'D')
        move_left(ed);
}

void handle_key(LineEditor& ed, uint8_t key)
{
    switch (ed.escape) {
    case EscapeState::Normal:
        handle_normal_key(ed, key);
        return;
    case EscapeState::AfterEscape:
        handle_escaped_key(ed, key);
        return;
    case EscapeState::ControlSequence:
        handle_sequence_key(ed, key);
        return;
    }
}

// A console that has gone ends the line as Enter does, so the caller is not left reading nothing
// for ever.  An interrupted read is the operator's Ctrl-C, which the terminal turned into SIGINT
// before it could arrive as a byte; a read that failed only for now (EAGAIN) is simply tried again.
void read_and_handle_key(LineEditor& ed)
{
    uint8_t key = 0;
    int result = read_console_key(&key);
    if (console_gone(result)) {
        end_line(ed);
        return;
    }
    if (result < 0) {
        if (errno == EINTR)
            break_line(ed);
        return;
    }
    handle_key(ed, key);
}

}  // namespace

char* get_user_input(char* buffer, int size)
{
    // Not even the terminator would fit.
    if (size < 1)
        return buffer;
    memset(buffer, 0, static_cast<size_t>(size));
    LineEditor ed{buffer, 0, size, EscapeState::Normal, false};
    while (!ed.done)
        read_and_handle_key(ed);
    return buffer;
}
