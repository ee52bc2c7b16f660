// The restore dialogue: from a saved transcript and a connected camera on
// firmware 2.3.1, or left on the patch, to its calibration written back and
// verified; and what the tool says of each fault the transcript reader
// (restore/transcript.h) finds in the file.
#ifndef RESTORE_RECOVERY_H
#define RESTORE_RECOVERY_H

#include "restore/transcript.h"

/// Prints a fault the transcript reader found on standard error, with the
/// file's name and the line's number.
void sayTranscriptFault(const TranscriptFinding& found);

/// Writes the table of the connected camera in the transcript at path back
/// into it, loading 2.3.1 first on the user's word when the camera runs the
/// patch; the process's exit status (0 only when all three write-back steps
/// succeeded and every value was read back as the table has it, -1
/// otherwise).
int runRestore(const PathText* path);

#endif
