// What both tools do at start and with a camera: the camera library and its
// configuration record, the banner, connecting with the retry-or-quit prompt,
// identification, a firmware load with its reboot, and the wait that ends a run.
//
// The connection's owner: each tool's flow holds one KvxHandle for the run
// (runPass in workflow/mainloop.cpp, restoreFrom in restore/recovery.cpp) and
// opens it through openCamera; loadAndReboot closes it before each reboot
// prompt and opens it again after; the flow closes it when the camera is
// finished with. A handle goes by value to what only talks to the camera and
// by pointer to what opens or closes it, as KVXopen and KVXclose take it.
#ifndef SESSION_SESSION_H
#define SESSION_SESSION_H

#include "camera/KvxQ713.h"
#include "camera/identification.h"

/// The release both tools show in their banners: project(VERSION) in CMakeLists.txt.
constexpr int TOOL_VERSION[3] = {Q713_VERSION_MAJOR, Q713_VERSION_MINOR, Q713_VERSION_PATCH};

/// The tool whose banner a run shows.
enum class Tool { Update, Restore };

/// The reboot prompt after the patch is loaded.
constexpr char FIRST_REBOOT[] =
    "Now please reboot the camera and press <return> when it is up again.";
/// The reboot prompt after firmware 2.3.1 is loaded.
constexpr char FINAL_REBOOT[] =
    "Now please reboot the camera and press <return> when it is up again (note the blinking "
    "LEDs).";

/// Readies the camera library (on Windows, loads KvxQ713.dll); false, its failure told, if not.
bool startLibrary();

/// Fills the run's configuration record and shows the banner; the record, for every connection.
KvxConfig* startSession(Tool tool);

/// Opens a connection, asking after each failure whether to retry; false when the user gives up.
bool connectCamera(KvxConfig* config, KvxHandle* handle);

/// Reads and shows the connected camera's identity; false, its failure told, when it cannot.
bool identifyCamera(KvxHandle handle, VersionInfo* info);

/// Connects and identifies the camera, between separators; false when the run must end.
bool openCamera(KvxConfig* config, KvxHandle* handle, VersionInfo* info);

/// How a firmware load with the reboot after it ended.
enum class LoadOutcome {
    Reconnected,     // loaded, rebooted on the user's word and connected again
    EndedAtLoad,     // nothing loaded: the load failed or the run was to stop before it
    EndedAfterLoad,  // loaded, then an interrupt stopped the run, input ended at the reboot
                     // prompt or the user gave up reconnecting
};

/// Loads fileName, closes, has rebootMessage answered and reconnects. lookedIn
/// as loadFirmware (camera/firmware.h) takes it.
LoadOutcome loadAndReboot(KvxHandle* kvxHandle, KvxConfig* deviceConfig, const char* fileName,
                          const char* rebootMessage, const char* lookedIn = nullptr);

/// Prints "Hit <return> to quit." and reads one character: how a run that must end closes.
void waitToQuit();

#endif
