// Reading the console text of update runs: the calibration tables the update
// tool printed, each with the identity of the camera printed before it.
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
    bool valid;  // false: every fault found was reported on standard error
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

/// A transcript held open from its first reading to its last, with what it
/// looked like when opened.
struct TranscriptFile {
    const char* path;  // as the messages show it
    std::FILE* file;
    long long size;
    long long modifiedSeconds;
    long modifiedNanoseconds;
};

/// Opens the file at path when it is a regular file of at most
/// TRANSCRIPT_MAX_BYTES; false, with what the file is on standard error,
/// otherwise. Anything else (a pipe, a device) is refused without opening it.
bool openTranscript(const PathText* path, TranscriptFile* transcript);

/// Closes a transcript that openTranscript opened.
void closeTranscript(TranscriptFile* transcript);

/// Reads the whole transcript from its start, reporting each malformed table
/// (file:line), a file that cannot be read, one that changed since it was
/// opened and one without tables on standard error; keeps the last table
/// whose identity equals camera, when one is given, and notes where two of
/// that camera's tables differ.
TranscriptScan scanTranscript(TranscriptFile* transcript, const CameraIdentity* camera);

#endif
