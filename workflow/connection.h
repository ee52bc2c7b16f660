// Connecting to the camera, with the retry-or-quit prompt after each failure.
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

/// Opens a connection, asking after each failure whether to retry; false when
/// the user gives up.
bool connectCamera(KvxConfig* config, KvxHandle* handle);

#endif
