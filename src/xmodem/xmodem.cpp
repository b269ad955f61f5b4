#include "xmodem/xmodem.h"

#include <cstdio>
#include <fcntl.h>

#include "platform/os.h"
#include "xmodem/control_bytes.h"
#include "xmodem/xmodem_internal.h"

namespace {

constexpr uint32_t SMALL_BLOCK = 128;
constexpr uint32_t LARGE_BLOCK = 1024;

// Waits in seconds.  Before any block header a silent second is answered with a new 'C'; once a
// sender has started, it is given longer.
constexpr uint32_t HEADER_WAIT_FOR_SENDER = 1;
constexpr uint32_t HEADER_WAIT = 5;
constexpr uint32_t FIELD_WAIT = 3;  // block number, complement, each CRC byte, the second CAN
constexpr uint32_t EOT_CONFIRM_WAIT = 5;
constexpr uint32_t REPEAT_DRAIN = 1;
constexpr uint32_t RETRY_DRAIN = 2;
constexpr uint32_t CANCEL_DRAIN = 2;

// The failures of one round, bits of errorflag.  A byte that does not come within its wait fails
// like a wrong one: a missing block number or complement as BAD_COMPLEMENT, a missing CRC byte as
// CRC_MISMATCH, a missing second CAN as CAN_UNCONFIRMED.
constexpr uint32_t EOT_UNCONFIRMED = 0x001;
constexpr uint32_t HEADER_TIMEOUT = 0x002;
constexpr uint32_t CAN_UNCONFIRMED = 0x004;
constexpr uint32_t CRC_MISMATCH = 0x008;
constexpr uint32_t DATA_SHORT = 0x010;  // no data byte, or fewer than the block's size
constexpr uint32_t BLOCK_ZERO_FIRST = 0x020;
constexpr uint32_t OUT_OF_SEQUENCE = 0x040;
constexpr uint32_t BAD_COMPLEMENT = 0x080;
constexpr uint32_t EARLY_ACK = 0x100;

// Failed rounds since the last accepted block that give the transfer up.
constexpr uint32_t RETRY_LIMIT = 3;
constexpr int CANCEL_BYTES = 5;

uint8_t buffer[LARGE_BLOCK];
uint32_t errorflag;

// The receiver's notes of an EOT and of a CAN, kept while the transfer runs: on a module the console
// and the download port are one line, and the sender reads every byte on it (lrzsz's sx takes the
// first byte after its EOT for the answer).  They are printed once the transfer has ended, in the
// order they came, as runs of one note.  Only a line of noise turns from one note to the other this
// often; the notes past the last run that fits are left out.
constexpr const char* EOT_NOTE = "EOT";
constexpr const char* CAN_NOTE = "CAN";
constexpr uint32_t NOTE_RUNS = 32;

struct Notes {
    const char* text[NOTE_RUNS];
    uint32_t count[NOTE_RUNS];
    uint32_t runs = 0;
    bool full = false;
};

void note(Notes& notes, const char* text)
{
    if (notes.full)
        return;
    if (notes.runs > 0 && notes.text[notes.runs - 1] == text) {
        ++notes.count[notes.runs - 1];
        return;
    }
    if (notes.runs == NOTE_RUNS) {
        notes.full = true;
        return;
    }
    notes.text[notes.runs] = text;
    notes.count[notes.runs] = 1;
    ++notes.runs;
}

void print_notes(const Notes& notes)
{
    for (uint32_t run = 0; run < notes.runs; ++run)
        for (uint32_t i = 0; i < notes.count[run]; ++i)
            fprintf(stderr, "%s\n", notes.text[run]);
}

struct Transfer {
    int port;
    int file;
    uint32_t header_timeout = HEADER_WAIT_FOR_SENDER;
    uint8_t last_block = 0;
    int32_t byte_count = 0;
    // Accepted data in 128-byte units; nonzero once the first block has been accepted.
    uint32_t units = 0;
    bool abort = false;
    uint32_t retries = 0;
    uint8_t header = 0;
    Notes notes{};
};

bool started(const Transfer& t) { return t.units != 0; }

// ACK and CAN mean something only while the sender has not got a block through; later they are
// line noise.
bool starts_round(uint8_t byte, const Transfer& t)
{
    return byte == SOH || byte == STX || byte == EOT || (!started(t) && (byte == ACK || byte == CAN));
}

// False when the header timeout passed without a byte that starts a round, or when the line kept
// bringing other bytes for longer than that.
bool wait_for_header(Transfer& t)
{
    for (uint32_t skipped = 0; skipped <= t.header_timeout * LINE_BYTES_PER_SECOND; ++skipped) {
        uint8_t byte = 0;
        if (getByte(t.header_timeout, &byte, t.port) < 0)
            return false;
        if (starts_round(byte, t)) {
            t.header = byte;
            return true;
        }
    }
    return false;
}

// A lone EOT may be line noise: it counts once the sender repeats it or falls silent.
void on_eot(Transfer& t)
{
    note(t.notes, EOT_NOTE);
    flushRX(t.port);
    putByte(NAK, t.port);
    uint8_t reply = 0;
    if (getByte(EOT_CONFIRM_WAIT, &reply, t.port) < 0)
        return;
    t.header = reply;
    if (starts_round(reply, t))
        return;
    t.header = 0;
    errorflag |= EOT_UNCONFIRMED;
}

// The sender's cancel is not obeyed: the receiver goes on waiting for a sender.
void on_can(Transfer& t)
{
    note(t.notes, CAN_NOTE);
    uint8_t second = 0;
    if (getByte(FIELD_WAIT, &second, t.port) < 0 || (second & 0x7F) != CAN)
        errorflag |= CAN_UNCONFIRMED;
}

// The expected block: written and acknowledged only when all of its data came with a matching CRC.
void receive_block(Transfer& t, uint8_t number, uint32_t size)
{
    uint16_t crc = 0;
    // A block cut short is refused even when its CRC fits the bytes that came.
    if (readData(buffer, size, &crc, t.port) < size) {
        errorflag |= DATA_SHORT;
        return;
    }
    uint8_t high = 0;
    uint8_t low = 0;
    if (getByte(FIELD_WAIT, &high, t.port) < 0 || getByte(FIELD_WAIT, &low, t.port) < 0 ||
        ((high << 8) | low) != crc) {
        errorflag |= CRC_MISMATCH;
        return;
    }
    // A file that cannot take the block would leave a download with a hole: give the transfer up.
    if (os::write(t.file, buffer, size) != static_cast<ssize_t>(size)) {
        t.abort = true;
        return;
    }
    t.retries = 0;
    t.byte_count += static_cast<int32_t>(size);
    t.units += size / SMALL_BLOCK;
    t.last_block = number;
    flushRX(t.port);
    putByte(ACK, t.port);
}

void on_block(Transfer& t)
{
    uint32_t size = t.header == SOH ? SMALL_BLOCK : LARGE_BLOCK;
    if (!started(t))
        t.header_timeout = HEADER_WAIT;
    uint8_t number = 0;
    uint8_t complement = 0;
    if (getByte(FIELD_WAIT, &number, t.port) < 0 || getByte(FIELD_WAIT, &complement, t.port) < 0 ||
        number + complement != 255) {
        errorflag |= BAD_COMPLEMENT;
        return;
    }
    if (number == static_cast<uint8_t>(t.last_block + 1)) {
        receive_block(t, number, size);
        return;
    }
    if (number == 0 && !started(t)) {
        errorflag |= BLOCK_ZERO_FIRST;
        return;
    }
    if (number != t.last_block) {
        errorflag |= OUT_OF_SEQUENCE;
        t.abort = true;
        return;
    }
    // Our ACK of this block was lost: let the repeat pass, then acknowledge it again.
    drain(REPEAT_DRAIN, t.port);
    putByte(ACK, t.port);
}

void dispatch(Transfer& t)
{
    switch (t.header) {
    case EOT:
        on_eot(t);
        break;
    case CAN:
        on_can(t);
        break;
    case ACK:
        errorflag |= EARLY_ACK;
        break;
    default:
        on_block(t);
    }
}

// Before the first block the receiver keeps asking for a start; after it, a third failed round
// since the last accepted block gives the transfer up.
void recover(Transfer& t)
{
    if (errorflag == 0 || t.abort)
        return;
    if (!started(t)) {
        putByte(CRC_MODE, t.port);
        return;
    }
    if (++t.retries >= RETRY_LIMIT) {
        t.abort = true;
        return;
    }
    drain(RETRY_DRAIN, t.port);
    putByte(NAK, t.port);
}

void run_round(Transfer& t)
{
    errorflag = 0;
    if (wait_for_header(t))
        dispatch(t);
    else
        errorflag |= HEADER_TIMEOUT;
    recover(t);
}

void cancel_transfer(int port)
{
    for (int i = 0; i < CANCEL_BYTES; ++i)
        putByte(CAN, port);
    drain(CANCEL_DRAIN, port);
}

}  // namespace

int32_t Xmodem1K(const char* path)
{
    fprintf(stderr, "Init serial\n");
    int port = init_serial();
    fprintf(stderr, "Init serial done\n");
    // Without the port no sender can ever be heard.
    if (port < 0)
        return -1;

    int file = os::open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file < 0) {
        perror("Can't open file!");
        reset_serial(port);
        os::close(port);
        return -1;
    }

    Transfer t{port, file};
    flushRX(port);
    putByte(CRC_MODE, port);
    do
        run_round(t);
    while (t.header != EOT && !t.abort);

    if (t.abort) {
        cancel_transfer(port);
        print_notes(t.notes);
    } else {
        putByte(ACK, port);
        print_notes(t.notes);
        fprintf(stderr, "All done\n");
    }
    reset_serial(port);
    os::close(port);
    // The file system may refuse the last of the data only when the file is closed: a file that
    // was not stored whole must not reach the installer as a completed download.
    const bool stored = os::close(file) == 0;
    if (!stored)
        perror("Can't write file!");
    if (t.abort || !stored) {
        // What arrived of a download given up is never installed; left in /tmp, it would only take
        // the RAM that the boot needs to unpack its image.
        os::unlink(path);
        return 0;
    }
    return t.byte_count;
}
