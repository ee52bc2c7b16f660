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
#include <time.h>
#endif

#include "simcam/image.h"
#include "simcam/profile.h"

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
    const ProfileCamera* setup;
    uint32_t registers[kRegisterCount];
    uint32_t flash[kProtectedCount];
    FirmwareId pending;  // the running firmware is in registers 56 and 2
    bool hasPending;
    bool armed;      // the flash magic was the last value written to register 21
    bool presented;  // the user has plugged this camera in at least once
    bool rebooted;   // in this process
    uint32_t openFailsLeft;
    uint32_t rebootOpenFailsLeft;
};

struct SimState {
    bool loaded;
    bool profileValid;
    bool connected;
    bool advanceOnOpen;  // closed with nothing pending: the user plugs in the next camera
    uint32_t calls;
    uint32_t current;     // the camera plugged in, index into gCameras
    uint32_t generation;  // one per successful open, so old handles go stale
};

SimState gState;
bool gExitHookRegistered;
Profile gProfile;
SimCamera gCameras[kMaxCameras];
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
        camera->setup = &gProfile.cameras[i];
        memcpy(camera->registers, camera->setup->registers, sizeof camera->registers);
        memcpy(camera->flash, camera->setup->flash, sizeof camera->flash);
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

// A pending image runs at the first open after a close. The new firmware does not
// know the old flash layout, so flash and calibration start empty; identity and
// sequences survive.
void connect(uint32_t index) {
    SimCamera* camera = &gCameras[index];
    if (!camera->presented) {
        camera->presented = true;
        uint32_t release = camera->registers[kRegRelease];  // BCD digits print as decimal via %x
        tracePrint("sim: camera %u firmware", index + 1);
        traceVersion(camera->registers[kRegVersion]);
        tracePrint(" released %02x.%02x.%04x", release >> 24, (release >> 16) & 0xFF,
                   release & 0xFFFF);
        traceEndLine();
    }
    if (camera->hasPending && !camera->setup->neverReboots) {
        camera->hasPending = false;
        camera->armed = false;
        camera->rebooted = true;
        camera->registers[kRegVersion] = camera->pending.version;
        camera->registers[kRegRelease] = camera->pending.release;
        for (uint32_t i = 0; i < kProtectedCount; ++i) {
            camera->registers[kProtectedRegisters[i]] = 0;
            camera->flash[i] = 0;
        }
        tracePrint("sim: camera %u rebooted into", index + 1);
        traceVersion(camera->pending.version);
        traceEndLine();
    }
    gState.current = index;
    gState.connected = true;
    ++gState.generation;
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
    bool armed = camera->armed;
    camera->armed = false;
    if (!armed) {
        return kStatusNotArmed;
    }
    bool store = address == kRegFlashStore;
    if (value != (store ? kFlashStoreCommand : kReloadCommand)) {
        return kStatusBadCommand;
    }
    if (!store) {
        for (uint32_t i = 0; i < kProtectedCount; ++i) {
            camera->registers[kProtectedRegisters[i]] = camera->flash[i];
        }
        return kStatusOk;
    }
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        camera->flash[i] = camera->registers[kProtectedRegisters[i]];
    }
    tracePrint("sim: camera %u flash", gState.current + 1);
    traceProtected(camera->flash);
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
        camera->armed = data[0] == kFlashMagic;
    }
    memcpy(camera->registers + address, data, count * sizeof *data);
    return kStatusOk;
}

bool sameFirmware(FirmwareId a, FirmwareId b) {
    return a.version == b.version && a.release == b.release;
}

// 2.3.1 installs over 2.0.0 or over the patch; the patch over the 26.02.2013 release.
bool accepts(const SimCamera* camera, FirmwareId image) {
    FirmwareId running = {camera->registers[kRegVersion] & kVersionMask,
                          camera->registers[kRegRelease]};
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
        if (!gExitHookRegistered) {
            gExitHookRegistered = true;
            atexit(simFinish);
        }
    }
    ++gState.calls;
    for (uint32_t i = gProfile.callFaultCount; i-- > 0;) {  // the last line wins
        if (gProfile.callFaults[i].call == gState.calls) {
            return gProfile.callFaults[i].status;
        }
    }
    return kStatusOk;
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
    gState.advanceOnOpen = !camera->hasPending;
    camera->rebootOpenFailsLeft = camera->hasPending ? camera->setup->rebootOpenFails : 0;
    return kStatusOk;
}

int32_t simRead(KvxHandle handle, uint32_t address, uint32_t count, uint32_t* data) {
    SimCamera* camera = nullptr;
    int32_t status = checkAccess(handle, false, address, count, &camera);
    if (status == kStatusOk) {
        memcpy(data, camera->registers + address, count * sizeof *data);
    }
    return status;
}

int32_t simWrite(KvxHandle handle, uint32_t address, uint32_t count, const uint32_t* data) {
    SimCamera* camera = nullptr;
    int32_t status = checkAccess(handle, true, address, count, &camera);
    return status == kStatusOk ? writeRegisters(camera, address, count, data) : status;
}

// Everything is checked before the transfer, so a refused image reports no progress.
int32_t simLoadFirmware(KvxHandle handle, const char* fileName, KvxProgressCallback progress) {
    SimCamera* camera = connectedCamera(handle);
    if (camera == nullptr) {
        return kStatusNotConnected;
    }
    size_t size = 0;
    const char* problem = readFile(fileName, &size);
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
    uint32_t loadMs = camera->setup->loadMs;
    for (uint32_t step = 1; step <= 5; ++step) {
        sleepMs(loadMs * step / 5 - loadMs * (step - 1) / 5);
        if (progress != nullptr) {
            progress(0, static_cast<uint8_t>(20 * step));  // its result does not stop the transfer
        }
    }
    camera->pending = image;
    camera->hasPending = true;
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
        view->calibration[i] = camera->registers[kProtectedRegisters[i]];
    }
    memcpy(view->flash, camera->flash, sizeof view->flash);
    view->running = FirmwareId{camera->registers[kRegVersion], camera->registers[kRegRelease]};
    view->hasPending = camera->hasPending;
    view->pending = camera->hasPending ? camera->pending : FirmwareId{0, 0};
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
