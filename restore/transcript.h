// Reading the console text of update runs: the calibration tables the update
// tool printed, each with the identity of the camera printed before it. The
// file is opened and checked in restore/transcript_file.cpp, decoded into lines
// in restore/transcript_text.cpp, and its tables read in restore/transcript.cpp;
// none of them prints: each fault goes to the caller's reporter.
#ifndef RESTORE_TRANSCRIPT_H
#define RESTORE_TRANSCRIPT_H

#include <cstdint>
#include <cstdio>

#include "calibration/registers.h"
#include "os/os.h"

/// Room for a PON text as printed; a longer one never matches a camera.
constexpr int PON_TEXT_SIZE = 16;

/// A camera as its PON and Serial lines name it.
struct CameraIdentity {
    char pon[PON_TEXT_SIZE];
    int32_t serial;
};

/// What one pass over a transcript found.
struct TranscriptScan {
    bool valid;  // false: every fault found was reported
    int tableCount;
    bool matched;         // a table of the wanted camera was found
    int matchLine;        // the line of that table's heading
    RegisterTable match;  // the last table of the wanted camera
    // The headings of two tables of the wanted camera whose values differ,
    // the first such pair; 0 when all its tables are equal.
    int differingLines[2];
};

/// The most a transcript may hold, far more than a console keeps.
constexpr long long TRANSCRIPT_MAX_BYTES = 64LL * 1024 * 1024;

/// What the reader can find wrong with a transcript (restore/recovery.cpp
/// has a text for each, in this order).
enum class TranscriptFault {
    // The file as a whole.
    CannotOpen,
    Folder,
    Pipe,
    Device,
    NotRegular,
    TooLarge,
    Changed,
    CannotRead,
    NoTable,
    // A table that cannot be read: line is its row, or its heading when the
    // file ends first (TableEndsBefore).
    RowExpected,
    TableEndsBefore,
    AddressUnreadable,
    AddressOutOfOrder,
    ValueUnreadable,
    SerialUnreadable,
    // A line the update tool printed that no longer reads as one: skipping it
    // could let an older table pass for the last.
    NotAPonLine,
    NotASerialLine,
    NotAHeading,
    TableWithoutIdentity,
    RowWithoutHeading,
    NoTableAfterCapture,
};

/// One fault the reader found, for its caller to tell.
struct TranscriptFinding {
    TranscriptFault fault;
    const char* path;  // as the messages show it
    int line;          // 0: the file as a whole
    int32_t address;   // the row's address, or the one read (AddressOutOfOrder)
    int32_t expected;  // AddressOutOfOrder: the address expected there
    int errorNumber;   // CannotOpen: the system's errno
};

/// Where the reader reports each fault; the caller decides what to print
/// (restore/recovery.h).
using TranscriptReporter = void (*)(const TranscriptFinding& found);

/// A transcript held open from its first reading to its last, with what it
/// looked like when opened.
struct TranscriptFile {
    const char* path;  // as the messages show it
    std::FILE* file;
    long long size;
    long long modifiedSeconds;
    long modifiedNanoseconds;
    TranscriptReporter report;
};

/// Opens the file at path when it is a regular file of at most
/// TRANSCRIPT_MAX_BYTES; false, what the file is reported, otherwise. Anything
/// else (a pipe, a device) is refused without opening it.
bool openTranscript(const PathText* path, TranscriptReporter report, TranscriptFile* transcript);

/// True when the open transcript still has the size and time it was opened with.
bool unchangedSinceOpened(const TranscriptFile& transcript);

/// Closes a transcript that openTranscript opened.
void closeTranscript(TranscriptFile* transcript);

/// Reads the whole transcript from its start, reporting each malformed table
/// or damaged line (with its line), a file that cannot be read, one that
/// changed since it was opened and one without tables; keeps the last table
/// whose identity equals camera, when one is given, and notes where two of
/// that camera's tables differ.
TranscriptScan scanTranscript(TranscriptFile* transcript, const CameraIdentity* camera);

#endif
