// The console line editor: what the operator sees echoed and the line the caller gets.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "launch/launch.h"
#include "rescue/rescue_internal.h"
#include "sim/board.h"
#include "tests/support/console_texts.h"

namespace {

using namespace std::string_literals;

// Reads one line into a buffer of exactly size bytes, filled with garbage first, and leaves the
// whole buffer as a note; gives 1 when the editor handed back the caller's buffer.
int edit_line(int size)
{
    sig_init();
    std::vector<char> buffer(static_cast<size_t>(size), 'U');
    char* line = get_user_input(buffer.data(), size);
    sim::Board::note(std::string(buffer.data(), buffer.size()));
    return line == buffer.data();
}

// The whole buffer as the caller should find it: the line, then nothing but zeros.
std::string whole_buffer(const std::string& line, int size)
{
    return line + std::string(static_cast<size_t>(size) - line.size(), '\0');
}

struct EditCase {
    const char* name;
    int size;
    std::string keys;
    std::string echo;
    std::string line;
};

// Keys after the end of the line are there to show that the editor stops reading.
const EditCase kEdits[] = {
    {"PlainLine", 8, "abc\rzz", "abc\n", "abc"},
    {"LineFeedEnds", 8, "ab\nzz", "ab\n", "ab"},
    {"InsertInTheMiddle", 8,
     "abdef\x02\x02\x02"
     "c\r",
     "abdef\b\b\b"
     "cdef\b\b\b"
     "\n",
     "abcdef"},
    {"InsertThenBackspace", 8,
     "abdef\x02\x02\x02"
     "c\b\r",
     "abdef\b\b\b"
     "cdef\b\b\b"
     "\b"
     "\0"
     "def \b\b\b\b"
     "\n"s,
     "abdef"},
    {"BackspaceAtEnd", 8, "abc\b\r",
     "abc\b"
     "\0"
     " \b\n"s,
     "ab"},
    {"DelAsBackspace", 8, "abc\x7f\r",
     "abc\b"
     "\0"
     " \b\n"s,
     "ab"},
    {"EscBackspace", 8, "abc\x1b\b\r",
     "abc\b"
     "\0"
     " \b\n"s,
     "ab"},
    {"EscDel", 8, "abc\x1b\x7f\r",
     "abc\b"
     "\0"
     " \b\n"s,
     "ab"},
    {"BackspaceLeavesNothingBehind", 8, "abcdef\x02\x02\x02\x02\b\r",
     "abcdef\b\b\b\b"
     "\b"
     "\0"
     "cdef \b\b\b\b\b"
     "\n"s,
     "acdef"},
    {"CtrlDUnderCursor", 8, "abc\x01\x04\r",
     "abc\b\b\b"
     "\0"
     "bc \b\b\b"
     "\n"s,
     "bc"},
    {"CtrlDAtEnd", 8, "abc\x04\r", "abc\n", "abc"},
    {"BackspaceAtStart", 8, "\bab\x01\b\x7f\x1b\b\r", "ab\b\b\n", "ab"},
    {"CtrlAToStart", 8,
     "bc\x01"
     "a\r",
     "bc\b\b"
     "abc\b\b"
     "\n",
     "abc"},
    {"CtrlAAtStart", 8,
     "\x01"
     "abc\r",
     "abc\n", "abc"},
    {"CtrlBAndCtrlF", 8,
     "ac\x02\x06\x02"
     "b\r",
     "ac\b"
     "c\b"
     "bc\b"
     "\n",
     "abc"},
    {"CursorStopsAtTheEnds", 8,
     "\x02"
     "ab\x06\r",
     "ab\n", "ab"},
    {"ArrowKeys", 8,
     "ac\x1b[D\x1b[C\x1b[D"
     "b\r",
     "ac\b"
     "c\b"
     "bc\b"
     "\n",
     "abc"},
    {"ArrowWithParameters", 8,
     "ac\x02\x1b[1;5C"
     "b\r",
     "ac\b"
     "c"
     "b\n",
     "acb"},
    {"ArrowUpDropped", 8,
     "ab\x1b[A"
     "c\r",
     "abc\n", "abc"},
    {"DeleteKeySequenceDropped", 8,
     "ab\x1b[3~"
     "c\r",
     "abc\n", "abc"},
    {"EscOInsertsLetters", 8, "ab\x1bOC\r", "abOC\n", "abOC"},
    {"EscEscStaysEscaped", 8,
     "a\x1b\x1b[D"
     "b\r",
     "a\b"
     "ba\b"
     "\n",
     "ba"},
    {"CarriageReturnDroppedInSequence", 8, "ab\x1b[\rc\r", "abc\n", "abc"},
    {"FullLineRingsBell", 4, "abcd\r", "abc\a\n", "abc"},
    {"FullLineStillEdits", 4,
     "abcd\x02\x7f"
     "d\r",
     "abc\a"
     "\b"
     "\b"
     "\0"
     "c \b\b"
     "dc\b"
     "\n"s,
     "adc"},
    {"SizeOne", 1, "ab\r", "\a\a\n", ""},
    {"CtrlCKeepsText", 8,
     "ab\x03"
     "cd\r",
     "ab <break>\n", "ab"},
    {"SpaceInserted", 8, " a b\r", " a b\n", " a b"},
    {"HighByteInserted", 8, "a\xe9\r", "a\xe9\n", "a\xe9"},
    {"UnknownControlBytesRing", 8, "a\x05\x00\x1c\tb\r"s, "a\a\a\a\ab\n", "ab"},
    {"EndOfInputEndsLine", 8, "ab", "ab\n", "ab"},
    {"EndOfInputInSequence", 8, "ab\x1b[", "ab\n", "ab"},
};

void PrintTo(const EditCase& c, std::ostream* os) { *os << c.name; }

class LineEditor : public testing::TestWithParam<EditCase> {};

TEST_P(LineEditor, EchoesAndStoresTheLine)
{
    const EditCase& c = GetParam();
    sim::Board board;
    board.console.keys(c.keys);

    sim::Run r = board.run([&c] { return edit_line(c.size); });

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.out, c.echo);
    EXPECT_EQ(r.steps({sim::Event::Kind::Note}), Lines{"note:" + whole_buffer(c.line, c.size)});
}

INSTANTIATE_TEST_SUITE_P(Keys, LineEditor, testing::ValuesIn(kEdits),
                         [](const auto& info) { return std::string(info.param.name); });

// On a real console the operator's Ctrl-C arrives as SIGINT, never as the byte.
TEST(LineEditorInterrupt, ActsAsCtrlC)
{
    sim::Board board;
    board.console.keys("ab").interrupt().keys("cd\r");

    sim::Run r = board.run([] { return edit_line(8); });

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.out, "ab <break>\n");
    EXPECT_EQ(r.steps({sim::Event::Kind::Note}), Lines{"note:ab\0\0\0\0\0\0"s});
}

TEST(LineEditorSize, NoRoomForTheTerminatorReadsNothing)
{
    sim::Board board;
    board.console.keys("ab\r");

    sim::Run r = board.run([] {
        char untouched = 'U';
        char* line = get_user_input(&untouched, 0);
        return line == &untouched && untouched == 'U';
    });

    EXPECT_EQ(r.end, sim::End::Returned);
    EXPECT_EQ(r.value, 1);
    EXPECT_EQ(r.out, "");
}

}  // namespace
