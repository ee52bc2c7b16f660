// Status codes the simulated camera library returns; fault injection in a
// profile may return any other nonzero value on top of these.
#ifndef SIMCAM_STATUS_H
#define SIMCAM_STATUS_H

#include <stdint.h>

constexpr int32_t kStatusOk = 0;
constexpr int32_t kStatusNoSuchFile = -1;
constexpr int32_t kStatusBadArgument = -10;      // a null pointer where one is required
constexpr int32_t kStatusNotConnected = -11;     // null or stale handle, or no connection
constexpr int32_t kStatusBadAddress = -12;       // register beyond 1023
constexpr int32_t kStatusBadCount = -13;         // count 0, or a range the camera cannot take
constexpr int32_t kStatusAlreadyOpen = -14;      // KVXopen while connected
constexpr int32_t kStatusReadOnly = -15;         // write to identity register 1, 2 or 56
constexpr int32_t kStatusBadImage = -20;         // unreadable, truncated or corrupt image
constexpr int32_t kStatusImageRefused = -21;     // the running firmware does not take it
constexpr int32_t kStatusNotArmed = -30;         // flash command without a fresh magic
constexpr int32_t kStatusBadCommand = -31;       // other value written to 20 or 54
constexpr int32_t kStatusProfileInvalid = -100;  // every KVXopen after a bad profile

#endif
