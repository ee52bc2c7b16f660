// The restore dialogue: connect, identify, load 2.3.1 into a camera left on
// the patch, find the camera's own table in the transcript, show it beside the
// camera's values, write it on the user's word and read it back; and the
// texts of the faults the transcript reader reports.
#include "restore/recovery.h"

#include <cstdio>
#include <cstring>

#include "calibration/capture.h"
#include "calibration/registers.h"
#include "calibration/writeback.h"
#include "camera/firmware.h"
#include "camera/identification.h"
#include "console/console.h"
#include "restore/firmware_place.h"
#include "restore/transcript.h"
#include "session/session.h"

namespace {

// How every ending between loading 2.3.1 and writing the values closes.
constexpr char LOADED_NOT_WRITTEN[] =
    "Firmware 2.3.1 was loaded into this camera, but no values were written: run q713-restore "
    "again with the same file.\n";

void showComparison(const char* path, const TranscriptScan& scan, const RegisterTable& now) {
    say("Values now in the camera and in the table of %s, line %d:\n", path, scan.matchLine);
    for (int i = 0; i < PROTECTED_REGISTER_COUNT; ++i) {
        say("\taddress = %d, camera = %d, table = %d.\n", now[i].address, now[i].value,
            scan.match[i].value);
    }
}

// The values read back after the writes, compared with the table, and the
// steps that failed; the exit status: 0 only when all three steps succeeded
// and every register reads back as the table has it.
int verdict(const RegisterTable& table, const RegisterTable& readBack,
            const WriteBackSteps& steps) {
    bool restored = true;
    for (int i = 0; i < PROTECTED_REGISTER_COUNT; ++i) {
        if (readBack[i].value != table[i].value) {
            say("Not restored: address = %d, camera = %d, table = %d.\n", readBack[i].address,
                readBack[i].value, table[i].value);
            restored = false;
        }
    }
    // Registers that read back right are not yet kept: only the flash
    // survives a restart, and only a save and a reset that both succeeded
    // prove it holds the values.
    if (!steps.written) {
        say("Step failed: writing the values into the registers.\n");
    }
    if (!steps.saved) {
        say("Step failed: storing the values in flash.\n");
    }
    if (!steps.reset) {
        say("Step failed: resetting the register map.\n");
    }
    if (!allWrittenBack(steps)) {
        say("The values may be lost when the camera restarts: run q713-restore again with "
            "the same file.\n");
        return -1;
    }
    if (!restored) {
        return -1;
    }
    say("Calibration restored and verified.\n");
    return 0;
}

CameraIdentity identityOf(const VersionInfo& info) {
    CameraIdentity camera{};
    std::snprintf(camera.pon, sizeof camera.pon, "%s", ponText(info.ponIndex));
    camera.serial = info.serial;
    return camera;
}

// The table of the identified camera, read afresh from the file; false when
// the run must end, its messages printed.
bool findTable(TranscriptFile* transcript, const VersionInfo& info, TranscriptScan* scan) {
    const char* path = transcript->path;
    CameraIdentity camera = identityOf(info);
    // The file was checked before connecting; read again, it could only have
    // changed in the meantime, and then it is reported.
    *scan = scanTranscript(transcript, &camera);
    if (!scan->valid) {
        return false;
    }
    if (!scan->matched) {
        // Another camera's calibration must never be written into this one.
        say("No calibration table for this camera (PON %s, serial %d) in %s.\n", camera.pon,
            camera.serial, path);
        waitToQuit();
        return false;
    }
    if (scan->differingLines[0] != 0) {
        say("Different calibration tables for this camera (PON %s, serial %d) in %s, lines %d "
            "and %d.\n",
            camera.pon, camera.serial, path, scan->differingLines[0], scan->differingLines[1]);
        say("Nothing was written. Keep only the text of this camera's last update in the file "
            "and run q713-restore again.\n");
        waitToQuit();
        return false;
    }
    return true;
}

// Asks a question answered with y or yes; true then. Any other answer ends
// the run with nothing written; firmwareLoaded: this run loaded 2.3.1, so the
// camera is no longer as it was.
bool confirmed(const char* question, bool firmwareLoaded) {
    say("%s", question);
    bool yes = readYes();
    say("%s", SEPARATOR);
    if (!yes) {
        say("%s", firmwareLoaded ? LOADED_NOT_WRITTEN : "The camera was not changed.\n");
        return false;
    }
    // Without the console the user would not see what happened to the camera.
    if (outputFailed()) {
        sayError("%s", firmwareLoaded ? "q713-restore: standard output failed; firmware 2.3.1 was "
                                        "loaded, but no values were written.\n"
                                      : "q713-restore: standard output failed; the camera was not "
                                        "changed.\n");
        return false;
    }
    return true;
}

// Two cameras whose PON shows as unknownPON are told apart by their serial
// numbers alone, and only the technician can see which camera this is.
void warnOfUnknownPon(const VersionInfo& info) {
    if (ponKnown(info.ponIndex)) {
        return;
    }
    say("The PON of this camera is not one the tools know: only the serial number ties this "
        "table to it.\n");
    say("Check that the label on the camera shows serial number %d.\n", info.serial);
}

// A camera still on its old firmware is the update tool's: it captures the
// calibration afresh and updates the camera from the start.
void adviseUpdate(TranscriptFile* transcript, const VersionInfo& info) {
    CameraIdentity camera = identityOf(info);
    TranscriptScan scan = scanTranscript(transcript, &camera);
    if (!scan.valid || !scan.matched) {
        return;
    }
    say("Its calibration table is in %s, line %d: update this camera with q713-update first.\n",
        transcript->path, scan.matchLine);
    say("Save the console text of that update as well: should it stop half way, run "
        "q713-restore with that text.\n");
}

// A camera stopped between the patch and 2.3.1 gets 2.3.1 as the update tool
// would have loaded it; info then holds its new identity. False when the run
// must end, its messages printed.
bool finishFirmware(KvxConfig* deviceConfig, KvxHandle* handle, VersionInfo* info,
                    TranscriptFile* transcript) {
    TranscriptScan scan;
    if (!findTable(transcript, *info, &scan)) {
        return false;
    }
    say("This camera runs the patch (firmware 0.0.0): its update stopped before 2.3.1.\n");
    say("Its calibration table is in %s, line %d.\n", transcript->path, scan.matchLine);
    if (!confirmed("Load firmware 2.3.1 into this camera first? (y/n)", false)) {
        return false;
    }
    // Dropped onto the exe, the file leaves the working folder elsewhere.
    FirmwarePlace place;
    findFirmware(FIRMWARE_FILE, &place);
    LoadOutcome loaded =
        loadAndReboot(handle, deviceConfig, place.path, FINAL_REBOOT, place.lookedIn);
    if (loaded == LoadOutcome::EndedAfterLoad) {
        say("%s%s", SEPARATOR, LOADED_NOT_WRITTEN);
    }
    if (loaded != LoadOutcome::Reconnected || !identifyCamera(*handle, info)) {
        return false;
    }
    say("%s", SEPARATOR);
    if (!runs231(*info)) {
        say("Firmware update failed: the camera does not run firmware 2.3.1.\n");
        waitToQuit();
        return false;
    }
    return true;
}

// From a camera on 2.3.1 on: its table, the question, the writes.
int restoreCamera(KvxHandle* handle, const VersionInfo& info, TranscriptFile* transcript,
                  bool firmwareLoaded) {
    // The tables were printed under firmware 2.0.0 or the patch, for 2.3.1; on
    // any other firmware these registers may mean something else.
    if (!runs231(info)) {
        say("Restore needs firmware 2.3.1.\n");
        adviseUpdate(transcript, info);
        waitToQuit();
        return -1;
    }
    TranscriptScan scan;
    if (!findTable(transcript, info, &scan)) {
        return -1;
    }
    RegisterTable now;
    initProtectedRegisters(now);
    if (readProtectedRegisters(*handle, now) == CaptureResult::ReadFailed) {
        waitToQuit();
        return -1;
    }
    showComparison(transcript->path, scan, now);
    warnOfUnknownPon(info);
    if (!confirmed("Write these values into the camera? (y/n)", firmwareLoaded)) {
        return -1;
    }
    // The same three steps as the update tool's; they and the read-back decide.
    WriteBackSteps steps = writeBackCalibration(*handle, scan.match);
    if (tellStop()) {
        return -1;
    }
    say("%s", SEPARATOR);
    RegisterTable readBack;
    initProtectedRegisters(readBack);
    if (readProtectedRegisters(*handle, readBack) == CaptureResult::ReadFailed) {
        waitToQuit();
        return -1;
    }
    say("Closing connection...\n");
    // The read-back was the last call to this camera: the run only reports now.
    KVXclose(handle);
    return verdict(scan.match, readBack, steps);
}

// From the checked file on: connect, identify, restore.
int restoreFrom(TranscriptFile* transcript) {
    KvxConfig* deviceConfig = startSession(Tool::Restore);
    KvxHandle kvxHandle = nullptr;
    VersionInfo versionInfo{};
    if (!openCamera(deviceConfig, &kvxHandle, &versionInfo)) {
        return -1;
    }
    // A camera on the patch gets 2.3.1 first, and is then no longer as it was.
    bool onPatch = runsPatch(versionInfo);
    if (onPatch && !finishFirmware(deviceConfig, &kvxHandle, &versionInfo, transcript)) {
        return -1;
    }
    return restoreCamera(&kvxHandle, versionInfo, transcript, onPatch);
}

// How a fault is told: of the file as a whole (a whole message), of a line
// of a table, or of a damaged line, with the advice to save or correct it.
enum class Told { File, Table, Damaged };

struct FaultText {
    Told told;
    // A format: for the file %s its name, then the system's reason; for a
    // line %d the fault's address, then the address expected there.
    const char* text;
};

// One row per TranscriptFault, in its order.
constexpr FaultText FAULT_TEXTS[] = {
    {Told::File, "%s: cannot open the file (%s).\n"},
    {Told::File, "%s: a folder, not a file with the console text.\n"},
    {Told::File,
     "%s: a pipe, not a file with the console text: save the text into a file first.\n"},
    {Told::File, "%s: a device, not a file with the console text.\n"},
    {Told::File, "%s: not a regular file, so not a file with the console text.\n"},
    {Told::File,
     "%s: larger than 64 MiB, far more than a console keeps: not a file with the console "
     "text.\n"},
    {Told::File, "%s: the file changed while q713-restore ran; run it again.\n"},
    {Told::File, "%s: cannot read the file.\n"},
    {Told::File, "%s: no \"Register values:\" table in the file.\n"},
    {Told::Table, "table cut short: the row for address %d expected here."},
    {Told::Table, "table cut short: the file ends before address %d."},
    {Told::Table, "the address does not parse."},
    {Told::Table, "address %d out of order: address %d expected here."},
    {Told::Table, "the data value does not parse."},
    {Told::Table, "the serial number does not parse."},
    {Told::Damaged, "looks like a PON line but is not one"},
    {Told::Damaged, "looks like a Serial line but is not one"},
    {Told::Damaged, "looks like a table heading but is not one"},
    {Told::Damaged, "a table without its camera's PON and Serial lines above it"},
    {Told::Damaged, "looks like a table row, but no table heading is above it"},
    {Told::Damaged, "no table after this line, where the update printed one"},
};
static_assert(sizeof FAULT_TEXTS / sizeof FAULT_TEXTS[0] ==
              static_cast<size_t>(TranscriptFault::NoTableAfterCapture) + 1);

}  // namespace

void sayTranscriptFault(const TranscriptFinding& found) {
    const FaultText& told = FAULT_TEXTS[static_cast<int>(found.fault)];
    // Each text takes what it names of these and leaves the rest.
    if (told.told == Told::File) {
        sayError(told.text, found.path, std::strerror(found.errorNumber));
        return;
    }
    char what[96];
    std::snprintf(what, sizeof what, told.text, found.address, found.expected);
    if (told.told == Told::Damaged) {
        sayError("%s:%d: %s: save the console text again, or correct this line.\n", found.path,
                 found.line, what);
    } else {
        sayError("%s:%d: %s\n", found.path, found.line, what);
    }
}

int runRestore(const PathText* path) {
    // Without the camera library there is nothing to restore with.
    if (!startLibrary()) {
        return -1;
    }
    // A file that does not hold what it should is refused before any camera
    // is touched.
    TranscriptFile transcript{};
    if (!openTranscript(path, sayTranscriptFault, &transcript)) {
        return -1;
    }
    int status = scanTranscript(&transcript, nullptr).valid ? restoreFrom(&transcript) : -1;
    closeTranscript(&transcript);
    return status;
}
