// Shared pieces of the launch tests: image records as they lie in a slot, and the visible course
// of a run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console_texts.h"
#include "sim/board.h"

// The record types and slot bases as the board has them, written out so that a wrong constant in
// the product shows.
inline constexpr uint32_t kMagicApplication = 0x014A414E;
inline constexpr uint32_t kMagicBootCode = 0x024A414E;
inline constexpr uint32_t kMagicKernel = 0x034A414E;
inline constexpr uint32_t kMagicRootFs = 0x044A414E;
inline constexpr uint32_t kMagicType5 = 0x054A414E;
inline constexpr uint32_t kMagicDiagnostics = 0x064A414E;
inline constexpr uint32_t kSlot1Base = 0x00000000;
inline constexpr uint32_t kSlot2Base = 0x00800000;

// The tests' record (record.h) with id 0x00010203, as bytes for the flash array.
std::vector<uint8_t> record_bytes(uint32_t magic, const std::string& payload);
// An application header alone, at base, whatever its length says.
void put_header(sim::Board& board, uint32_t base, uint32_t len);

// An expected course made of pieces.
Lines operator+(Lines a, const Lines& b);

// The kinds that show what an operator sees and what the board runs.
inline constexpr std::initializer_list<sim::Event::Kind> kConsoleAndCommands = {
    sim::Event::Kind::Out, sim::Event::Kind::Err, sim::Event::Kind::Shell, sim::Event::Kind::Exec,
    sim::Event::Kind::Exit};

inline const std::string kUnpackLine =
    "cd /tmp \ntar mxzf /tmp/zarelimage.tar.gz \nrm /tmp/zarelimage.tar.gz\n";

// The application's binary decompressed in place, as the shell runs it; and the whole course from
// the unpacking of the archive on, as the console and the shell show it.
inline const Lines kDecompressCommands = {
    "sh:lzma d /tmp/home/bin/mp.elf.strip.lzma /tmp/home/bin/mp.elf.strip\n",
    "sh:rm /tmp/home/bin/mp.elf.strip.lzma\n", "sh:chmod +x /tmp/home/bin/mp.elf.strip"};
inline const Lines kUnpackAndDecompress =
    Lines{"sh:" + kUnpackLine, "out:Uncompressing application image....\n"} + kDecompressCommands;

// The unpacking leaves the marker file of a compatible image.
void unpack_compatible_image(sim::Board& board);

// Puts the variables, each ended by a NUL, where the boot loader keeps its environment text.
void load_env(sim::Board& board, const std::vector<std::string>& variables);
