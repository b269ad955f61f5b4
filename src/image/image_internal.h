// Pieces of module image shared by its files.
#pragma once

#include <cstdint>

#include "flash/flash_layout.h"

// One record of the download, held whole: its header words, its bytes from the header on, and how
// many of them the file really held.
struct DownloadedRecord {
    ImageHeader header;
    const uint8_t* bytes;
    uint32_t total;    // len + 16
    uint32_t arrived;  // less than total when the file ended inside the record
};

enum class RecordOutcome {
    Next,        // the walk goes on
    Unselected,  // the walk goes on, but a slot was written that the slot byte does not name: the
                 // install has failed
    Failed,      // the walk stops; the download is void
    Boot,        // the archive holds the payload: the walk stops and the application is started
};

// Whether the record arrived whole with the CRC its header states.  Otherwise prints crc_message
// with the CRC of the bytes that did arrive.
bool check_record_crc(const DownloadedRecord& record, const char* crc_message);

// Boot loader, kernel and root file system records: checked and written into their flash areas.
// Records of the other types are passed over unchecked.
RecordOutcome handle_area_record(const DownloadedRecord& record);
// Application records: installed into a slot or booted at once, as the operator answers.
RecordOutcome handle_application_record(const DownloadedRecord& record);

constexpr unsigned ANSWER_SIZE = 32;
// The operator's answer line from the console, without its line end; false when no answer came.
bool read_answer(char (&answer)[ANSWER_SIZE]);
