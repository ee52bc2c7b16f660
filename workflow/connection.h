// Connecting to the camera, with the retry-or-quit prompt after each failure,
// and the reboot that follows each firmware load.
#ifndef WORKFLOW_CONNECTION_H
#define WORKFLOW_CONNECTION_H

#include "camera/KvxQ713.h"

#ifndef KVX_CONFIG_BYTES
#define KVX_CONFIG_BYTES 4096
#endif
static_assert(KVX_CONFIG_BYTES >= 4096 && KVX_CONFIG_BYTES >= sizeof(KvxConfig),
              "KVX_CONFIG_BYTES must leave the library at least 4096 bytes");

/// Room for the library's configuration record: the maker's library may fill
/// more than the KvxConfig its header declares.
union ConfigRecord {
    KvxConfig config;
    alignas(16) unsigned char bytes[KVX_CONFIG_BYTES];
};

/// The reboot prompt after the patch is loaded.
constexpr char FIRST_REBOOT[] =
    "Now please reboot the camera and press <return> when it is up again.";
/// The reboot prompt after firmware 2.3.1 is loaded.
constexpr char FINAL_REBOOT[] =
    "Now please reboot the camera and press <return> when it is up again (note the blinking "
    "LEDs).";

/// Opens a connection, asking after each failure whether to retry; false when
/// the user gives up.
bool connectCamera(KvxConfig* config, KvxHandle* handle);

/// Loads the firmware file into the camera, closes the connection, has the
/// user reboot the camera with rebootMessage and reconnects; false when the
/// run must end, its messages printed.
bool loadAndReboot(KvxHandle& kvxHandle, KvxConfig* deviceConfig, const char* fileName,
                   const char* rebootMessage);

#endif
