// Process-wide state of the simulated library. All of it is zero until the
// first call, so loading the library costs nothing before it is used.
#include "simcam/sim_state.h"

#include <errno.h>
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

#include "simcam/camera.h"
#include "simcam/image.h"
#include "simcam/profile.h"
#include "simcam/status.h"
#include "simcam/trace.h"

namespace {

constexpr uint32_t kHandleSlots = 64;

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

enum FileResult { kFileOk, kFileMissing, kFileNotRegular, kFileUnreadable, kFileTooLarge };

// Only a regular file: opening a fifo would wait for a writer forever.
FileResult readFile(const char* path, size_t* size) {
    struct stat info;
    if (stat(path, &info) != 0) {
        return errno == ENOENT ? kFileMissing : kFileUnreadable;
    }
    if (!S_ISREG(info.st_mode)) {
        return kFileNotRegular;
    }
    errno = 0;
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        return errno == ENOENT ? kFileMissing : kFileUnreadable;
    }
    *size = fread(gFileBuffer, 1, sizeof gFileBuffer, file);
    bool failed = ferror(file) != 0;
    fclose(file);
    if (failed) {
        return kFileUnreadable;
    }
    return *size > kImageMaxSize ? kFileTooLarge : kFileOk;
}

const char* fileProblem(FileResult result) {
    switch (result) {
        case kFileMissing:
            return "no such file";
        case kFileNotRegular:
            return "not a regular file";
        case kFileTooLarge:
            return "larger than 65536 bytes, the most a profile may hold";
        default:
            return "cannot read the file";
    }
}

void reportProfileErrors(const char* path) {
    for (uint32_t i = 0; i < gProfile.errorCount && i < kMaxKeptErrors; ++i) {
        const ProfileError* error = &gProfile.errors[i];
        if (error->line > 0) {
            fprintf(stderr, "%s:%u: %s\n", path, error->line, error->message);
        } else {
            fprintf(stderr, "%s: %s\n", path, error->message);
        }
    }
    if (gProfile.errorCount > kMaxKeptErrors) {
        fprintf(stderr, "%s: %u more errors\n", path, gProfile.errorCount - kMaxKeptErrors);
    }
    if (gProfile.errorCount > 0) {
        fprintf(stderr, "%s: profile rejected, no camera will answer\n", path);
    }
}

void parseProfileFile(const char* path) {
    size_t size = 0;
    FileResult result = readFile(path, &size);
    if (result == kFileOk) {
        profileParse(reinterpret_cast<const char*>(gFileBuffer), size, &gProfile);
    } else {
        profileParse(nullptr, 0, &gProfile);
        profileAddFileError(&gProfile, fileProblem(result));
    }
    reportProfileErrors(path);
}

void loadProfile(void) {
    const char* path = getenv("KVX_SIM_CAMERA");
    if (path == nullptr || path[0] == '\0') {
        profileParse(nullptr, 0, &gProfile);
    } else {
        parseProfileFile(path);
    }
    gState.profileValid = gProfile.errorCount == 0;
    for (uint32_t i = 0; i < gProfile.cameraCount; ++i) {
        cameraPowerOn(&gCameras[i], &gProfile.cameras[i]);
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

// A camera that does not answer yet: no connection, and no reboot either.
int32_t openFault(SimCamera* camera) {
    if (camera->openFailsLeft > 0) {
        --camera->openFailsLeft;
        return camera->setup->openFailStatus;
    }
    if (camera->rebootOpenFailsLeft > 0) {
        --camera->rebootOpenFailsLeft;
        return camera->setup->rebootOpenFailStatus;
    }
    return kStatusOk;
}

void connect(uint32_t index) {
    SimCamera* camera = &gCameras[index];
    if (!camera->presented) {
        camera->presented = true;
        tracePrint("sim: camera %u firmware", index + 1);
        traceVersion(camera->running.version);
        tracePrint(" released");
        traceRelease(camera->running.release);
        traceEndLine();
    }
    // Only ever set while connected, so there was a close since.
    if (camera->hasPending && !camera->setup->neverReboots) {
        cameraReboot(camera);
        tracePrint("sim: camera %u rebooted into", index + 1);
        traceVersion(camera->running.version);
        traceEndLine();
    }
    gState.current = index;
    gState.connected = true;
    ++gState.generation;
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

int32_t readImage(const char* fileName, FirmwareId* image) {
    size_t size = 0;
    FileResult result = readFile(fileName, &size);
    if (result == kFileMissing) {
        return kStatusNoSuchFile;
    }
    if (result != kFileOk || imageParse(gFileBuffer, size, image) != kImageOk) {
        return kStatusBadImage;
    }
    return kStatusOk;
}

void traceExitLine(uint32_t index) {
    const SimCamera* camera = &gCameras[index];
    uint32_t calibration[kProtectedCount];
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        calibration[i] = camera->registers[kProtectedRegisters[i]];
    }
    tracePrint("sim: camera %u exit running", index + 1);
    traceVersion(camera->running.version);
    tracePrint(" pending");
    if (camera->hasPending) {
        traceVersion(camera->pending.version);
    } else {
        tracePrint(" none");
    }
    tracePrint(" registers");
    traceProtected(calibration);
    tracePrint(" flash");
    traceProtected(camera->flash);
    traceEndLine();
}

}  // namespace

void simBeginCall(void) {
    if (!gState.loaded) {
        gState.loaded = true;
        traceOpen(getenv("KVX_SIM_TRACE"));
        loadProfile();
        if (!gExitHookRegistered) {
            gExitHookRegistered = true;
            atexit(simFinish);
        }
    }
    ++gState.calls;
}

int32_t simCallFault(void) {
    for (uint32_t i = 0; i < gProfile.callFaultCount; ++i) {
        if (gProfile.callFaults[i].call == gState.calls) {
            return gProfile.callFaults[i].status;
        }
    }
    return kStatusOk;
}

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
    int32_t status = openFault(&gCameras[target]);
    if (status == kStatusOk) {
        connect(target);
        *handle = currentHandle();
    }
    return status;
}

int32_t simClose(KvxHandle handle) {
    SimCamera* camera = connectedCamera(handle);
    if (camera == nullptr) {
        return kStatusNotConnected;
    }
    gState.connected = false;
    gState.advanceOnOpen = !camera->hasPending;
    if (camera->hasPending) {
        camera->rebootOpenFailsLeft = camera->setup->rebootOpenFails;
    }
    return kStatusOk;
}

namespace {

// What every register access must pass before it touches the register map.
int32_t checkAccess(KvxHandle handle, bool write, uint32_t address, uint32_t count,
                    SimCamera** camera) {
    *camera = connectedCamera(handle);
    if (*camera == nullptr) {
        return kStatusNotConnected;
    }
    int32_t status = cameraCheckRange(address, count);
    return status == kStatusOk ? cameraRegisterFault(*camera, write, address, count) : status;
}

}  // namespace

int32_t simRead(KvxHandle handle, uint32_t address, uint32_t count, uint32_t* data) {
    SimCamera* camera = nullptr;
    int32_t status = checkAccess(handle, false, address, count, &camera);
    return status == kStatusOk ? cameraRead(camera, address, count, data) : status;
}

int32_t simWrite(KvxHandle handle, uint32_t address, uint32_t count, const uint32_t* data) {
    SimCamera* camera = nullptr;
    int32_t status = checkAccess(handle, true, address, count, &camera);
    if (status == kStatusOk) {
        status = cameraWrite(camera, address, count, data);
    }
    if (status == kStatusOk && address == kRegFlashStore) {
        tracePrint("sim: camera %u flash", gState.current + 1);
        traceProtected(camera->flash);
        traceEndLine();
    }
    return status;
}

// Everything is checked before the transfer, so a refused image reports no progress.
int32_t simLoadFirmware(KvxHandle handle, const char* fileName, KvxProgressCallback progress) {
    SimCamera* camera = connectedCamera(handle);
    if (camera == nullptr) {
        return kStatusNotConnected;
    }
    FirmwareId image = {0, 0};
    int32_t status = readImage(fileName, &image);
    if (status != kStatusOk) {
        return status;
    }
    if (!cameraAccepts(camera, image)) {
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
    view->running = camera->running;
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
