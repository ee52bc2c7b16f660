// Writes the trace file. Lines are flushed one by one so that the file is
// complete up to the last call even if the tool crashes.
#include "simcam/trace.h"

#include <stdarg.h>
#include <stdio.h>

#include "simcam/register_map.h"

namespace {

FILE* gTrace = nullptr;

}  // namespace

void traceOpen(const char* path) {
    traceClose();
    if (path == nullptr || path[0] == '\0') {
        return;
    }
    gTrace = fopen(path, "ab");  // "\n" line ends on every platform
    if (gTrace == nullptr) {
        fprintf(stderr, "KVX_SIM_TRACE: cannot open %s for appending\n", path);
    }
}

void traceClose(void) {
    if (gTrace != nullptr) {
        fclose(gTrace);
        gTrace = nullptr;
    }
}

void tracePrint(const char* format, ...) {
    if (gTrace == nullptr) {
        return;
    }
    va_list args;
    va_start(args, format);
    vfprintf(gTrace, format, args);
    va_end(args);
}

void traceEndLine(void) {
    if (gTrace != nullptr) {
        fputc('\n', gTrace);
        fflush(gTrace);
    }
}

void traceVersion(uint32_t word) {
    tracePrint(" %u.%u.%u", versionMajor(word), versionMinor(word), versionNonfunc(word));
}

// BCD digits print as decimal through %x.
void traceRelease(uint32_t word) {
    tracePrint(" %02x.%02x.%04x", word >> 24, (word >> 16) & 0xFF, word & 0xFFFF);
}

void traceProtected(const uint32_t* words) {
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        tracePrint(" %u=0x%x", kProtectedRegisters[i], words[i]);
    }
}
