// libFuzzer target: the tool's whole dialogue, from start-up to its exit
// status, on any answers against a simulated camera the input describes.
//
// Input: camera profile text (faults included), a line "%%", then the bytes
// standard input holds. Without that line it is all standard input, for the
// built-in camera. Both firmware images lie in the working folder.
#include <fcntl.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "console/console.h"
#include "simcam/image.h"
#include "simcam/sim_state.h"
#include "workflow/mainloop.h"

namespace {

constexpr char kSplitLine[] = "%%\n";
constexpr size_t kSplitSize = sizeof kSplitLine - 1;

char gFolder[256];
char gProfilePath[300];
char gOutput[1 << 16];  // what the tool prints; thrown away unless Q713_FUZZ_STDOUT is set
bool gOwnOutput;

void removeFolder(void) {
    char path[400];
    for (const KnownImage& image : kKnownImages) {
        snprintf(path, sizeof path, "%s/%s", gFolder, image.fileName);
        unlink(path);
    }
    unlink(gProfilePath);
    rmdir(gFolder);
}

// Where the line "%%" starts, or size.
size_t findSplit(const uint8_t* data, size_t size) {
    for (size_t i = 0; i + kSplitSize <= size; ++i) {
        if ((i == 0 || data[i - 1] == '\n') && memcmp(data + i, kSplitLine, kSplitSize) == 0) {
            return i;
        }
    }
    return size;
}

bool writeProfile(const uint8_t* text, size_t size) {
    FILE* file = fopen(gProfilePath, "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = fwrite(text, 1, size, file) == size;
    return fclose(file) == 0 && written;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* tmp = getenv("TMPDIR");
    snprintf(gFolder, sizeof gFolder, "%s/q713-dialogue-XXXXXX",
             tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp");
    if (mkdtemp(gFolder) == nullptr || imageWriteKnown(gFolder) != 0) {
        perror("dialogue fuzzer: scratch folder");
        abort();
    }
    snprintf(gProfilePath, sizeof gProfilePath, "%s/camera.txt", gFolder);
    atexit(removeFolder);
    setenv("KVX_SIM_CAMERA", gProfilePath, 1);
    unsetenv("KVX_SIM_TRACE");
    // A memory stream: the tool flushes after every message, and a pipe or
    // /dev/null would cost a system call each time.
    if (getenv("Q713_FUZZ_STDOUT") == nullptr) {
        stdout = fmemopen(gOutput, sizeof gOutput, "w");
        if (stdout == nullptr) {
            abort();
        }
        gOwnOutput = true;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t split = findSplit(data, size);
    bool hasProfile = split < size;
    // kill-before-call and kill-in-load would end the fuzzer itself.
    if (memmem(data, split, "kill-", 5) != nullptr) {
        return 0;
    }
    const uint8_t* answers = hasProfile ? data + split + kSplitSize : data;
    size_t answerSize = hasProfile ? size - split - kSplitSize : size;
    if (!writeProfile(data, hasProfile ? split : 0)) {
        abort();
    }
    // fmemopen wants a writable buffer even to read; the stream only reads it.
    FILE* input = answerSize > 0 ? fmemopen(const_cast<uint8_t*>(answers), answerSize, "r")
                                 : fopen("/dev/null", "r");
    int folder = open(".", O_RDONLY | O_DIRECTORY);
    if (input == nullptr || folder < 0 || chdir(gFolder) != 0) {
        abort();
    }
    FILE* keptInput = stdin;
    stdin = input;
    if (gOwnOutput) {
        rewind(stdout);
    }
    simReset();  // a camera as just plugged in, and the profile read again
    startConsole();
    runMainLoop();
    stdin = keptInput;
    fclose(input);
    if (fchdir(folder) != 0) {
        abort();
    }
    close(folder);
    return 0;
}
