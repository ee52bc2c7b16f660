// The file KVX_SIM_STATE names: the cameras as they are when a process ends,
// so that the next process meets them the same way. Text, one fact a line.
#ifndef SIMCAM_STATE_FILE_H
#define SIMCAM_STATE_FILE_H

#include <stdint.h>

#include "simcam/register_map.h"

/// What a camera keeps when the process that drives it ends.
struct KeptCamera {
    uint32_t registers[kRegisterCount];  // the running firmware in 56 and 2
    uint32_t flash[kProtectedCount];
    FirmwareId pending;
    bool hasPending;  // a loaded image waits for the next reboot
    bool armed;       // the flash magic was the last value written to register 21
};

/// Writes count cameras and the index of the one plugged in to path: first to
/// path.PID.tmp, then renamed over path, so a reader never meets half a file
/// and two processes never share a temporary file.
bool stateWrite(const char* path, const KeptCamera* cameras, uint32_t count, uint32_t current);

/// Reads path over cameras (count of them, as the profile built them); a camera
/// the file does not name stays as it was. Null, or what is wrong (a file or a
/// camera section cut short included); *line says where (0: the file as a whole).
const char* stateRead(const char* path, KeptCamera* cameras, uint32_t count, uint32_t* current,
                      uint32_t* line);

#endif
