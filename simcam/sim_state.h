// Process-wide state of the simulated library: profile, cameras, connection,
// call count and trace. Internal: the exported functions and the tests use it.
#ifndef SIMCAM_SIM_STATE_H
#define SIMCAM_SIM_STATE_H

#include <stdint.h>

#include "camera/KvxQ713.h"
#include "simcam/register_map.h"

// The statuses of the simulated library; a profile may inject any other nonzero one.
constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusNoSuchFile = -1;
constexpr int32_t kStatusBadArgument = -10;
constexpr int32_t kStatusNotConnected = -11;
constexpr int32_t kStatusBadAddress = -12;
constexpr int32_t kStatusBadCount = -13;
constexpr int32_t kStatusAlreadyOpen = -14;
constexpr int32_t kStatusReadOnly = -15;
constexpr int32_t kStatusBadImage = -20;
constexpr int32_t kStatusImageRefused = -21;
constexpr int32_t kStatusNotArmed = -30;
constexpr int32_t kStatusBadCommand = -31;
constexpr int32_t kStatusProfileInvalid = -100;

/// What a test may judge a camera by: its calibration registers and flash, and its firmware.
struct SimCameraView {
    bool presented;            // the camera has been plugged in during this run
    uint32_t calibration[14];  // registers 26-32 and 120-126, in that order
    uint32_t flash[14];        // the flash words of the same registers, same order
    FirmwareId running;        // register 56 and register 2 words of the running firmware
    bool hasPending;           // a loaded image waits for the next reboot
    FirmwareId pending;
};

/// Counts a library call (the first reads the environment); the status fail-call
/// injects, or 0. Ends the process when kill-before-call names this call.
int32_t simBeginCall(void);
/// Ends a library call: writes the cameras to KVX_SIM_STATE if the call changed them.
void simEndCall(void);
/// Connects to the camera plugged in, first running a pending image; 0 or the failure.
int32_t simOpen(KvxHandle* handle);
/// Drops the link behind handle; 0, or not connected.
int32_t simClose(KvxHandle handle);
/// Reads count registers from address into data; 0 or the failure.
int32_t simRead(KvxHandle handle, uint32_t address, uint32_t count, uint32_t* data);
/// Writes count registers from address, running flash commands; 0 or the failure.
int32_t simWrite(KvxHandle handle, uint32_t address, uint32_t count, const uint32_t* data);
/// Checks and loads the image fileName, which then waits for the reboot; 0 or the failure.
int32_t simLoadFirmware(KvxHandle handle, const char* fileName, KvxProgressCallback progress);
/// Whether address..address + count - 1 lie within the register map.
bool simRangeValid(uint32_t address, uint32_t count);
/// The state of camera index (0 = first of the profile); false past the last one.
bool simCameraView(uint32_t index, SimCameraView* view);

/// Adds to the current line of the trace (KVX_SIM_TRACE), if there is one.
SIMCAM_PRINTF_LIKE(1, 2) void tracePrint(const char* format, ...);
/// Ends the current trace line and flushes it, so a crash keeps what came before.
void traceEndLine(void);

/// Writes the exit line of every camera presented and closes the trace;
/// registered with atexit on the first call.
void simFinish(void);
/// For tests only: forgets everything, as if the process had just started,
/// so the next call reads the environment again. No exit lines are written.
void simReset(void);

#endif
