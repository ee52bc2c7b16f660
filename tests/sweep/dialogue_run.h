// The whole dialogue of q713-update run in this process against the simulated
// camera, and the judge of such a run by the state the camera is left in.
#ifndef TESTS_SWEEP_DIALOGUE_RUN_H
#define TESTS_SWEEP_DIALOGUE_RUN_H

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "simcam/sim_state.h"

/// What both tools print on standard error after the banner against the simulated camera.
constexpr char kTrainingLine[] = "Training: simulated camera library, no real camera is changed.\n";

/// q713-update's line on standard error, after the training line, for a camera half updated.
constexpr char kHalfUpdated[] =
    "q713-update: the camera was left half updated: run q713-restore with the saved console "
    "text.\n";

/// True when a run of q713-update that printed out and ended with status ended
/// after a load of its last pass and before the write-back began: half updated.
bool endedHalfUpdated(const std::string& out, int status);

/// What one run of the tool left behind.
struct DialogueRun {
    int status = 0;
    std::string out;
    std::string err;
    std::vector<std::string> calls;  // the trace's lines of library calls, events left out
    std::vector<SimCameraView> cameras;
};

/// Runs the tool from start-up to its exit status with standard input holding
/// exactly input, in a scratch folder holding both firmware images and the
/// profile. A run that does not end within seconds ends the process, naming label.
DialogueRun runDialogue(const std::string& profile, const std::string& input,
                        const std::string& label);

/// The cameras of profile as they are plugged in, before any call reaches them.
std::vector<SimCameraView> camerasBefore(const std::string& profile);

/// What the judge found in one run.
struct RunVerdict {
    std::vector<std::string> broken;  // one line per broken rule; none for a sound run
};

/// Judges run by the cameras' state; before: the cameras as they were plugged in.
RunVerdict judgeRun(const DialogueRun& run, const std::vector<SimCameraView>& before);

/// A calibration table the run printed: the values of registers 26-32 and
/// 120-126 in that order, as the 14 rows "\taddress = A, data = V." show them.
struct PrintedTable {
    size_t start;   // where "Register values:" begins in the output
    size_t end;     // just after its last row
    bool complete;  // all 14 rows, in order
    uint32_t values[14];
};

/// True when a line of text tells of a failure ("ERROR", "Could not", "Failed",
/// "Stopped", "Firmware update failed" at its start).
bool showsFailureLine(const std::string& text);

/// Every table printed in out, in order.
std::vector<PrintedTable> printedTables(const std::string& out);

#endif
