// A download file walked record by record, as the rescue installer walks it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "imgtool/record_file.h"

struct WalkEnd {
    std::string reason;
    bool normal;  // a download may end so
    std::string note = "";
};

struct WalkedRecord {
    uint64_t offset;
    RecordCheck check;
};

struct DownloadWalk {
    std::vector<WalkedRecord> records;
    WalkEnd end;
    uint64_t end_offset;

    // Every record whole and intact, at least one, and the walk ended as a download may.
    bool intact() const;
};

// Records one after the other until something that is not one: the end of the file, stray bytes
// too few for a header, an unknown magic (the transfer's filler), a record cut short, or a bad CRC
// in a record of a type the installer writes.
DownloadWalk walk_download(InputFile& file);
