// libFuzzer target: q713-restore's reader of saved console text, on any bytes
// as the file, read for no camera and for two that a transcript names.
//
// Input: the file's bytes. What the reader reports goes into a memory stream.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "restore/transcript.h"

namespace {

char gPath[300];
char gErrors[1 << 16];  // what the reader reports; thrown away
FILE* gErrorStream;

void removeFile(void) {
    unlink(gPath);
}

// A table the reader keeps holds the fourteen addresses in their order.
void checkScan(const TranscriptScan& scan) {
    if (!scan.matched) {
        return;
    }
    RegisterTable expected;
    initProtectedRegisters(expected);
    for (int i = 0; i < PROTECTED_REGISTER_COUNT; ++i) {
        if (scan.match[i].address != expected[i].address || scan.matchLine <= 0) {
            abort();
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* tmp = getenv("TMPDIR");
    snprintf(gPath, sizeof gPath, "%s/q713-transcript-%d.txt",
             tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp", static_cast<int>(getpid()));
    atexit(removeFile);
    gErrorStream = fmemopen(gErrors, sizeof gErrors, "w");
    if (gErrorStream == nullptr) {
        abort();
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fopen(gPath, "wb");
    if (file == nullptr || fwrite(data, 1, size, file) != size || fclose(file) != 0) {
        abort();
    }
    // Only while the reader runs: the fuzzer reports on the real one.
    FILE* keptErrors = stderr;
    stderr = gErrorStream;
    rewind(stderr);
    TranscriptFile transcript{};
    if (!openTranscript(gPath, &transcript)) {
        abort();  // a regular file far below the limit
    }
    const CameraIdentity cameras[] = {{"410-3105-1", 1001}, {"unknownPON", 1001}};
    TranscriptScan first = scanTranscript(&transcript, nullptr);
    for (const CameraIdentity& camera : cameras) {
        TranscriptScan scan = scanTranscript(&transcript, &camera);
        // Every reading of one file sees the same text.
        if (scan.valid != first.valid || scan.tableCount != first.tableCount) {
            abort();
        }
        checkScan(scan);
    }
    closeTranscript(&transcript);
    stderr = keptErrors;
    return 0;
}
