// The restore dialogue: from a saved transcript and a connected camera on
// firmware 2.3.1 to its calibration written back and verified.
#ifndef RESTORE_RECOVERY_H
#define RESTORE_RECOVERY_H

/// Writes the last table of the connected camera in the transcript at path
/// back into it; the process's exit status (0 only when every value was
/// read back as the table has it, -1 otherwise).
int runRestore(const char* path);

#endif
