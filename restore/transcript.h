// Reading the console text of update runs: the calibration tables the update
// tool printed, each with the identity of the camera printed before it.
#ifndef RESTORE_TRANSCRIPT_H
#define RESTORE_TRANSCRIPT_H

#include <cstdint>

#include "calibration/registers.h"

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

/// Reads the whole file at path, reporting each malformed table (file:line),
/// a file that cannot be read and a file without tables on standard error;
/// keeps the last table whose identity equals camera, when one is given, and
/// notes where two of that camera's tables differ.
TranscriptScan scanTranscript(const char* path, const CameraIdentity* camera);

#endif
