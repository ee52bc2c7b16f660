// Runs a fuzz target's entry point over files instead of generated inputs, so
// ordinary builds replay the seeds and the inputs of past crashes as tests.
//
// usage: fuzz_<target> PATH...  each PATH a file or a folder of files (a
// missing folder counts as empty); a file named *.hex holds its bytes as hex
// digits, lines starting with '#' being comments.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

constexpr size_t kMaxInput = 1u << 20;
uint8_t gFile[kMaxInput];
unsigned gReplayed;

bool endsWith(const char* text, const char* tail) {
    size_t n = strlen(text);
    size_t m = strlen(tail);
    return n >= m && strcmp(text + n - m, tail) == 0;
}

int hexDigit(uint8_t c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// Decodes in place; false for a stray character or an odd number of digits.
bool decodeHex(uint8_t* text, size_t* size) {
    size_t out = 0;
    int high = -1;
    bool lineStart = true;
    bool comment = false;
    for (size_t i = 0; i < *size; ++i) {
        uint8_t c = text[i];
        if (c == '\n') {
            lineStart = true;
            comment = false;
            continue;
        }
        if (lineStart && c == '#') {
            comment = true;
        }
        lineStart = false;
        if (comment || c == ' ' || c == '\t' || c == '\r') {
            continue;
        }
        int digit = hexDigit(c);
        if (digit < 0) {
            return false;
        }
        if (high < 0) {
            high = digit;
        } else {
            text[out++] = static_cast<uint8_t>(high << 4 | digit);
            high = -1;
        }
    }
    *size = out;
    return high < 0;
}

bool replayFile(const char* path) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        fprintf(stderr, "replay: cannot open %s\n", path);
        return false;
    }
    size_t size = fread(gFile, 1, sizeof gFile, file);
    bool tooLarge = size == sizeof gFile;
    fclose(file);
    if (tooLarge || (endsWith(path, ".hex") && !decodeHex(gFile, &size))) {
        fprintf(stderr, "replay: %s is %s\n", path, tooLarge ? "too large" : "not hex");
        return false;
    }
    fprintf(stderr, "replay: %s\n", path);
    // An exact-size copy, so the sanitizers see any read past the end.
    uint8_t* copy = static_cast<uint8_t*>(malloc(size == 0 ? 1 : size));
    if (copy == nullptr) {
        return false;
    }
    memcpy(copy, gFile, size);
    LLVMFuzzerTestOneInput(copy, size);
    free(copy);
    ++gReplayed;
    return true;
}

bool replayFolder(const char* path) {
    DIR* dir = opendir(path);
    if (dir == nullptr) {
        return false;
    }
    bool ok = true;
    char file[4096];
    for (const dirent* entry = readdir(dir); entry != nullptr; entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        int n = snprintf(file, sizeof file, "%s/%s", path, entry->d_name);
        ok = n > 0 && static_cast<size_t>(n) < sizeof file && replayFile(file) && ok;
    }
    closedir(dir);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr) {
        LLVMFuzzerInitialize(&argc, &argv);
    }
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        struct stat info;
        if (stat(argv[i], &info) != 0) {
            fprintf(stderr, "replay: %s does not exist, nothing to replay there\n", argv[i]);
        } else if (S_ISDIR(info.st_mode)) {
            ok = replayFolder(argv[i]) && ok;
        } else {
            ok = replayFile(argv[i]) && ok;
        }
    }
    fprintf(stderr, "replay: %u inputs\n", gReplayed);
    return ok && gReplayed > 0 ? 0 : 1;
}
