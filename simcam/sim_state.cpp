// The simulated cameras and the link to the one plugged in: registers, flash
// commands, firmware loads and reboots. All zero until the first call.
#include "simcam/sim_state.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <signal.h>
#include <time.h>
#include <unistd.h>
#endif

#include "simcam/image.h"
#include "simcam/profile.h"
#include "simcam/state_file.h"

namespace {

constexpr uint32_t kHandleSlots = 64;
constexpr uint32_t kRegFlashStore = 20;
constexpr uint32_t kRegFlashMagic = 21;
constexpr uint32_t kRegReload = 54;
constexpr uint32_t kFlashMagic = 0x4B525137u;
constexpr uint32_t kFlashStoreCommand = 1;
constexpr uint32_t kReloadCommand = 0x01000000u;
constexpr uint32_t kVersionMask = 0xFFFF;  // register 56 bits that hold the version

struct SimCamera {
    KeptCamera* kept;  // in gKept: what KVX_SIM_STATE carries over to the next process
    const ProfileCamera* setup;
    bool presented;  // the user has plugged this camera in during this process
    bool rebooted;   // in this process
    bool rebootDue;  // closed with an image pending: the user reboots it before the next open
    uint32_t openFailsLeft;
    uint32_t rebootOpenFailsLeft;
};

struct SimState {
    bool loaded;
    bool profileValid;
    bool connected;
    bool advanceOnOpen;  // closed with nothing pending: the user plugs in the next camera
    uint32_t calls;
    uint32_t current;      // the camera plugged in, index into gCameras
    uint32_t generation;   // one per successful open, so old handles go stale
    bool changed;          // a camera changed since the state file was last written
    char statePath[1024];  // KVX_SIM_STATE, or empty
};

SimState gState;
bool gExitHookRegistered;
Profile gProfile;
SimCamera gCameras[kMaxCameras];
KeptCamera gKept[kMaxCameras];
unsigned char gHandleSlots[kHandleSlots];
uint8_t gFileBuffer[kImageMaxSize + 1];  // one more byte tells a file that is too large
FILE* gTrace;

void traceVersion(uint32_t word) {
    tracePrint(" %u.%u.%u", versionMajor(word), versionMinor(word), versionNonfunc(word));
}

// " 26=0x1234 27=0x0 ... 126=0x0": words in flash order, named by register.
void traceProtected(const uint32_t* words) {
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        tracePrint(" %u=0x%x", kProtectedRegisters[i], words[i]);
    }
}

void traceClose(void) {
    if (gTrace != nullptr) {
        fclose(gTrace);
        gTrace = nullptr;
    }
}

const char kNoSuchFile[] = "no such file";

// Into gFileBuffer; null, or what is wrong with the file. Only a regular file:
// opening a fifo would wait for a writer forever.
const char* readFile(const char* path, size_t* size) {
    struct stat info;
    if (stat(path, &info) != 0) {
        return errno == ENOENT ? kNoSuchFile : "cannot read the file";
    }
    FILE* file = S_ISREG(info.st_mode) ? fopen(path, "rb") : nullptr;
    if (file == nullptr) {
        return S_ISREG(info.st_mode) ? "cannot read the file" : "not a regular file";
    }
    *size = fread(gFileBuffer, 1, sizeof gFileBuffer, file);
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) {
        return "cannot read the file";
    }
    return *size > kImageMaxSize ? "larger than 65536 bytes, the most a profile may hold" : nullptr;
}

// Every camera as it comes out of the box; a bad profile is reported on stderr.
void loadProfile(void) {
    const char* path = getenv("KVX_SIM_CAMERA");
    size_t size = 0;
    const char* problem = path != nullptr && path[0] != '\0' ? readFile(path, &size) : nullptr;
    profileParse(reinterpret_cast<const char*>(gFileBuffer), problem == nullptr ? size : 0,
                 &gProfile);
    if (problem != nullptr) {
        fprintf(stderr, "%s: %s\n", path, problem);
    }
    for (uint32_t i = 0; i < gProfile.errorCount && i < kMaxKeptErrors; ++i) {
        fprintf(stderr, "%s:%u: %s\n", path, gProfile.errors[i].line, gProfile.errors[i].message);
    }
    if (gProfile.errorCount > kMaxKeptErrors) {
        fprintf(stderr, "%s: %u more errors\n", path, gProfile.errorCount - kMaxKeptErrors);
    }
    gState.profileValid = problem == nullptr && gProfile.errorCount == 0;
    if (!gState.profileValid) {
        fprintf(stderr, "%s: profile rejected, no camera will answer\n", path);
    }
    for (uint32_t i = 0; i < gProfile.cameraCount; ++i) {
        SimCamera* camera = &gCameras[i];
        memset(camera, 0, sizeof *camera);
        camera->kept = &gKept[i];
        memset(camera->kept, 0, sizeof *camera->kept);
        camera->setup = &gProfile.cameras[i];
        memcpy(camera->kept->registers, camera->setup->registers, sizeof camera->kept->registers);
        memcpy(camera->kept->flash, camera->setup->flash, sizeof camera->kept->flash);
        camera->openFailsLeft = camera->setup->openFails;
    }
}

KvxHandle currentHandle(void) {
    return &gHandleSlots[gState.generation % kHandleSlots];
}

SimCamera* connectedCamera(KvxHandle handle) {
    if (!gState.connected || handle == nullptr || handle != currentHandle()) {
        return nullptr;
    }
    return &gCameras[gState.current];
}

// A pending image runs at a reboot. The new firmware does not know the old flash
// layout, so flash and calibration start empty; identity and sequences survive.
// False when nothing ran.
bool runPending(uint32_t index) {
    SimCamera* camera = &gCameras[index];
    KeptCamera* kept = camera->kept;
    if (!kept->hasPending || camera->setup->neverReboots) {
        return false;
    }
    kept->hasPending = false;
    kept->armed = false;
    camera->rebooted = true;
    kept->registers[kRegVersion] = kept->pending.version;
    kept->registers[kRegRelease] = kept->pending.release;
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        kept->registers[kProtectedRegisters[i]] = 0;
        kept->flash[i] = 0;
    }
    tracePrint("sim: camera %u rebooted into", index + 1);
    traceVersion(kept->pending.version);
    traceEndLine();
    gState.changed = true;
    return true;
}

// The first open after a close with an image pending finds the camera rebooted
// by the user: the image runs.
void connect(uint32_t index) {
    SimCamera* camera = &gCameras[index];
    if (!camera->presented) {
        camera->presented = true;
        // BCD digits print as decimal via %x.
        uint32_t release = camera->kept->registers[kRegRelease];
        tracePrint("sim: camera %u firmware", index + 1);
        traceVersion(camera->kept->registers[kRegVersion]);
        tracePrint(" released %02x.%02x.%04x", release >> 24, (release >> 16) & 0xFF,
                   release & 0xFFFF);
        traceEndLine();
    }
    if (camera->rebootDue) {
        camera->rebootDue = false;
        runPending(index);
    }
    gState.current = index;
    gState.connected = true;
    gState.changed = true;
    ++gState.generation;
}

// Switched off and on: a pending image runs, otherwise the calibration comes back from flash.
void powerCycle(uint32_t index) {
    KeptCamera* kept = gCameras[index].kept;
    kept->armed = false;
    if (!runPending(index)) {
        for (uint32_t i = 0; i < kProtectedCount; ++i) {
            kept->registers[kProtectedRegisters[i]] = kept->flash[i];
        }
    }
    tracePrint("sim: camera %u power cycled", index + 1);
    traceEndLine();
    gState.changed = true;
}

// The state of an earlier process, when there is one, instead of the profile's cameras.
void loadState(void) {
    const char* path = getenv("KVX_SIM_STATE");
    snprintf(gState.statePath, sizeof gState.statePath, "%s", path != nullptr ? path : "");
    struct stat info;
    if (!gState.profileValid || gState.statePath[0] == '\0' || stat(gState.statePath, &info) != 0) {
        return;
    }
    uint32_t line = 0;
    const char* problem =
        stateRead(gState.statePath, gKept, gProfile.cameraCount, &gState.current, &line);
    if (problem != nullptr) {
        if (line > 0) {
            fprintf(stderr, "%s:%u: %s\n", gState.statePath, line, problem);
        } else {
            fprintf(stderr, "%s: %s\n", gState.statePath, problem);
        }
        fprintf(stderr, "%s: state rejected, no camera will answer\n", gState.statePath);
        gState.profileValid = false;
    }
}

// What every register access must pass before it touches the registers.
int32_t checkAccess(KvxHandle handle, bool write, uint32_t address, uint32_t count,
                    SimCamera** camera) {
    *camera = connectedCamera(handle);
    if (*camera == nullptr) {
        return kStatusNotConnected;
    }
    if (!simRangeValid(address, count)) {
        return address >= kRegisterCount ? kStatusBadAddress : kStatusBadCount;
    }
    const ProfileCamera* setup = (*camera)->setup;
    for (uint32_t i = setup->faultCount; i-- > 0;) {  // the last line wins
        const RegisterFault* fault = &setup->faults[i];
        if (fault->write == write && (!fault->afterReboot || (*camera)->rebooted) &&
            fault->address >= address && fault->address - address < count) {
            return fault->status;
        }
    }
    return kStatusOk;
}

bool isIdentity(uint32_t address) {
    return address == kRegIdentity || address == kRegRelease || address == kRegVersion;
}

// Each attempt uses up the magic, whether the camera then runs it or not.
int32_t runCommand(SimCamera* camera, uint32_t address, uint32_t value) {
    bool armed = camera->kept->armed;
    camera->kept->armed = false;
    if (!armed) {
        return kStatusNotArmed;
    }
    bool store = address == kRegFlashStore;
    if (value != (store ? kFlashStoreCommand : kReloadCommand)) {
        return kStatusBadCommand;
    }
    if (!store) {
        for (uint32_t i = 0; i < kProtectedCount; ++i) {
            camera->kept->registers[kProtectedRegisters[i]] = camera->kept->flash[i];
        }
        return kStatusOk;
    }
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        camera->kept->flash[i] = camera->kept->registers[kProtectedRegisters[i]];
    }
    tracePrint("sim: camera %u flash", gState.current + 1);
    traceProtected(camera->kept->flash);
    traceEndLine();
    return kStatusOk;
}

// Several words at once only for plain registers: commands and identity go one by one.
int32_t writeRegisters(SimCamera* camera, uint32_t address, uint32_t count, const uint32_t* data) {
    for (uint32_t i = 0; i < count && count > 1; ++i) {
        uint32_t at = address + i;
        if (isIdentity(at) || at == kRegFlashStore || at == kRegFlashMagic || at == kRegReload) {
            return kStatusBadCount;
        }
    }
    if (address == kRegFlashStore || address == kRegReload) {
        return runCommand(camera, address, data[0]);
    }
    if (isIdentity(address)) {
        return kStatusReadOnly;
    }
    if (address == kRegFlashMagic) {
        camera->kept->armed = data[0] == kFlashMagic;
    }
    memcpy(camera->kept->registers + address, data, count * sizeof *data);
    return kStatusOk;
}

bool sameFirmware(FirmwareId a, FirmwareId b) {
    return a.version == b.version && a.release == b.release;
}

// 2.3.1 installs over 2.0.0 or over the patch; the patch over the 26.02.2013 release.
bool accepts(const SimCamera* camera, FirmwareId image) {
    FirmwareId running = {camera->kept->registers[kRegVersion] & kVersionMask,
                          camera->kept->registers[kRegRelease]};
    if (sameFirmware(image, kFirmware231)) {
        return running.version == versionWord(2, 0, 0) || sameFirmware(running, kFirmwarePatch);
    }
    return sameFirmware(image, kFirmwarePatch) && running.release == releaseWord(26, 2, 2013);
}

// Sleeps out the rest after an interrupted sleep: a held-back Ctrl-C must not shorten a load.
void sleepMs(uint32_t ms) {
    if (ms == 0) {
        return;
    }
#if defined(_WIN32)
    Sleep(ms);
#else
    timespec left = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
#endif
}

void traceExitLine(uint32_t index) {
    SimCameraView view;
    simCameraView(index, &view);
    tracePrint("sim: camera %u exit running", index + 1);
    traceVersion(view.running.version);
    tracePrint(" pending");
    if (view.hasPending) {
        traceVersion(view.pending.version);
    } else {
        tracePrint(" none");
    }
    tracePrint(" registers");
    traceProtected(view.calibration);
    tracePrint(" flash");
    traceProtected(view.flash);
    traceEndLine();
}

void saveState(void) {
    if (gState.changed && gState.statePath[0] != '\0') {
        gState.changed = false;
        if (!stateWrite(gState.statePath, gKept, gProfile.cameraCount, gState.current)) {
            fprintf(stderr, "KVX_SIM_STATE: cannot write %s\n", gState.statePath);
        }
    }
}

// Ends the process as a crash or a power loss would: no exit handlers, no
// exit lines. The camera keeps what it holds, so the state is written first.
[[noreturn]] void killProcess(void) {
    traceEndLine();
    saveState();
#if defined(_WIN32)
    TerminateProcess(GetCurrentProcess(), 137);
#else
    kill(getpid(), SIGKILL);
#endif
    _Exit(137);  // not reached
}

}  // namespace

int32_t simBeginCall(void) {
    if (!gState.loaded) {
        gState.loaded = true;
        const char* trace = getenv("KVX_SIM_TRACE");
        if (trace != nullptr && trace[0] != '\0') {
            gTrace = fopen(trace, "ab");  // binary: "\n" line ends on every platform
            if (gTrace == nullptr) {
                fprintf(stderr, "KVX_SIM_TRACE: cannot open %s for appending\n", trace);
            }
        }
        loadProfile();
        loadState();
        const char* cycle = getenv("KVX_SIM_POWER_CYCLE");
        if (gState.profileValid && cycle != nullptr && cycle[0] != '\0') {
            for (uint32_t i = 0; i < gProfile.cameraCount; ++i) {
                powerCycle(i);
            }
        }
        if (!gExitHookRegistered) {
            gExitHookRegistered = true;
            atexit(simFinish);
        }
    }
    ++gState.calls;
    if (gState.calls == gProfile.killBeforeCall) {
        tracePrint("sim: killed before call %u", gState.calls);
        killProcess();
    }
    for (uint32_t i = gProfile.callFaultCount; i-- > 0;) {  // the last line wins
        if (gProfile.callFaults[i].call == gState.calls) {
            return gProfile.callFaults[i].status;
        }
    }
    return kStatusOk;
}

void simEndCall(void) {
    saveState();
}

// A camera that does not answer yet: no connection, and no reboot either.
int32_t simOpen(KvxHandle* handle) {
    if (!gState.profileValid) {
        return kStatusProfileInvalid;
    }
    if (gState.connected) {
        return kStatusAlreadyOpen;
    }
    uint32_t target = gState.current;
    if (gState.advanceOnOpen && target + 1 < gProfile.cameraCount) {
        ++target;
    }
    SimCamera* camera = &gCameras[target];
    if (camera->openFailsLeft > 0) {
        --camera->openFailsLeft;
        return camera->setup->openFailStatus;
    }
    if (camera->rebootOpenFailsLeft > 0) {
        --camera->rebootOpenFailsLeft;
        return camera->setup->rebootOpenFailStatus;
    }
    connect(target);
    *handle = currentHandle();
    return kStatusOk;
}

int32_t simClose(KvxHandle handle) {
    SimCamera* camera = connectedCamera(handle);
    if (camera == nullptr) {
        return kStatusNotConnected;
    }
    gState.connected = false;
    gState.advanceOnOpen = !camera->kept->hasPending;
    camera->rebootDue = camera->kept->hasPending;
    camera->rebootOpenFailsLeft = camera->kept->hasPending ? camera->setup->rebootOpenFails : 0;
    return kStatusOk;
}

int32_t simRead(KvxHandle handle, uint32_t address, uint32_t count, uint32_t* data) {
    SimCamera* camera = nullptr;
    int32_t status = checkAccess(handle, false, address, count, &camera);
    if (status == kStatusOk) {
        memcpy(data, camera->kept->registers + address, count * sizeof *data);
    }
    return status;
}

int32_t simWrite(KvxHandle handle, uint32_t address, uint32_t count, const uint32_t* data) {
    SimCamera* camera = nullptr;
    int32_t status = checkAccess(handle, true, address, count, &camera);
    gState.changed = gState.changed || status == kStatusOk;  // a refused command too: it disarms
    return status == kStatusOk ? writeRegisters(camera, address, count, data) : status;
}

// Everything is checked before the transfer, so a refused image reports no progress.
int32_t simLoadFirmware(KvxHandle handle, const char* fileName, KvxProgressCallback progress) {
    SimCamera* camera = connectedCamera(handle);
    if (camera == nullptr) {
        return kStatusNotConnected;
    }
    size_t size = 0;
    const char* problem = readFile(imageFileFor(fileName), &size);
    FirmwareId image = {0, 0};
    if (problem == kNoSuchFile) {
        return kStatusNoSuchFile;
    }
    if (problem != nullptr || imageParse(gFileBuffer, size, &image) != kImageOk) {
        return kStatusBadImage;
    }
    if (!accepts(camera, image)) {
        return kStatusImageRefused;
    }
    // The new image takes the place of one still pending; until it is whole, nothing is.
    camera->kept->hasPending = false;
    gState.changed = true;
    uint32_t loadMs = camera->setup->loadMs;
    for (uint32_t step = 1; step <= 5; ++step) {
        sleepMs(loadMs * step / 5 - loadMs * (step - 1) / 5);
        if (progress != nullptr) {
            progress(0, static_cast<uint8_t>(20 * step));  // its result does not stop the transfer
        }
        if (gState.calls == gProfile.killLoadCall && step == gProfile.killLoadReport) {
            tracePrint("sim: killed in call %u after progress report %u", gState.calls, step);
            killProcess();
        }
    }
    camera->kept->pending = image;
    camera->kept->hasPending = true;
    tracePrint("sim: camera %u loaded", gState.current + 1);
    traceVersion(image.version);
    traceEndLine();
    return kStatusOk;
}

void tracePrint(const char* format, ...) {
    if (gTrace != nullptr) {
        va_list args;
        va_start(args, format);
        vfprintf(gTrace, format, args);
        va_end(args);
    }
}

void traceEndLine(void) {
    if (gTrace != nullptr) {
        fputc('\n', gTrace);
        fflush(gTrace);
    }
}

bool simRangeValid(uint32_t address, uint32_t count) {
    return address < kRegisterCount && count > 0 && count <= kRegisterCount - address;
}

bool simCameraView(uint32_t index, SimCameraView* view) {
    if (index >= gProfile.cameraCount || view == nullptr) {
        return false;
    }
    const SimCamera* camera = &gCameras[index];
    view->presented = camera->presented;
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        view->calibration[i] = camera->kept->registers[kProtectedRegisters[i]];
    }
    memcpy(view->flash, camera->kept->flash, sizeof view->flash);
    view->running =
        FirmwareId{camera->kept->registers[kRegVersion], camera->kept->registers[kRegRelease]};
    view->hasPending = camera->kept->hasPending;
    view->pending = camera->kept->hasPending ? camera->kept->pending : FirmwareId{0, 0};
    return true;
}

void simFinish(void) {
    for (uint32_t i = 0; i < gProfile.cameraCount; ++i) {
        if (gCameras[i].presented) {
            traceExitLine(i);
        }
    }
    traceClose();
}

void simReset(void) {
    traceClose();
    gState = SimState{};
    gProfile.cameraCount = 0;
}
