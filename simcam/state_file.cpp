// Writes and reads the KVX_SIM_STATE file:
//
//   plugged-in 1
//   camera 1
//   pending 2.3.1 28.10.2015        or: pending none
//   armed 0
//   flash 0x1234 0xabc ...          14 words, registers 26-32 and 120-126
//   register 1 0x101002             every register that is not 0
//   end                             after the last camera: the file is whole
#include "simcam/state_file.h"

#include <stdio.h>
#include <string.h>
#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "simcam/image.h"

namespace {

constexpr size_t kMaxLine = 256;

// The lines every camera section holds once; registers that are 0 are left out.
struct Section {
    KeptCamera* camera;
    uint32_t line;  // of its "camera" line
    bool pending;
    bool armed;
    bool flash;
};

bool sectionWhole(const Section& section) {
    return section.camera == nullptr || (section.pending && section.armed && section.flash);
}

unsigned long processId() {
#if defined(_WIN32)
    return GetCurrentProcessId();
#else
    return static_cast<unsigned long>(getpid());
#endif
}

void writeCamera(FILE* file, uint32_t index, const KeptCamera* camera) {
    fprintf(file, "\ncamera %u\n", index + 1);
    if (camera->hasPending) {
        uint32_t version = camera->pending.version;
        uint32_t release = camera->pending.release;  // BCD digits print as decimal via %x
        fprintf(file, "pending %u.%u.%u %02x.%02x.%04x\n", versionMajor(version),
                versionMinor(version), versionNonfunc(version), release >> 24,
                (release >> 16) & 0xFF, release & 0xFFFF);
    } else {
        fprintf(file, "pending none\n");
    }
    fprintf(file, "armed %d\nflash", camera->armed ? 1 : 0);
    for (uint32_t word : camera->flash) {
        fprintf(file, " 0x%x", word);
    }
    fprintf(file, "\n");
    for (uint32_t address = 0; address < kRegisterCount; ++address) {
        if (camera->registers[address] != 0) {
            fprintf(file, "register %u 0x%x\n", address, camera->registers[address]);
        }
    }
}

// rename() does not replace an existing file on Windows.
bool replaceFile(const char* from, const char* to) {
#if defined(_WIN32)
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
#else
    return rename(from, to) == 0;
#endif
}

// Fourteen words and nothing after them.
bool readFlash(const char* text, uint32_t* flash) {
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        int used = 0;
        if (sscanf(text, " %x%n", &flash[i], &used) != 1) {
            return false;
        }
        text += used;
    }
    return text[strspn(text, " \r\n")] == '\0';
}

// One line into the camera it belongs to; false when it is not a line of the format.
bool readLine(const char* line, KeptCamera* cameras, uint32_t count, uint32_t* current,
              Section* section) {
    unsigned number = 0;
    unsigned address = 0;
    unsigned value = 0;
    char version[16];
    char release[16];
    char end = 0;
    if (sscanf(line, "plugged-in %u %c", &number, &end) == 1) {
        *current = number - 1;
        return number >= 1 && number <= count;
    }
    if (sscanf(line, "camera %u %c", &number, &end) == 1) {
        if (number < 1 || number > count) {
            return false;
        }
        *section = Section{&cameras[number - 1], 0, false, false, false};
        memset(section->camera, 0, sizeof *section->camera);
        return true;
    }
    KeptCamera* c = section->camera;
    if (c == nullptr) {
        return false;
    }
    if (strncmp(line, "pending none", 12) == 0 && line[12 + strspn(line + 12, " \r\n")] == '\0') {
        c->hasPending = false;
        section->pending = true;
        return true;
    }
    if (sscanf(line, "pending %15s %15s %c", version, release, &end) == 2) {
        c->hasPending = true;
        section->pending = true;
        return parseVersion(version, &c->pending.version) &&
               parseRelease(release, &c->pending.release);
    }
    if (sscanf(line, "armed %u %c", &value, &end) == 1) {
        c->armed = value == 1;
        section->armed = true;
        return value <= 1;
    }
    if (strncmp(line, "flash ", 6) == 0) {
        section->flash = true;
        return readFlash(line + 6, c->flash);
    }
    if (sscanf(line, "register %u %x %c", &address, &value, &end) == 2) {
        c->registers[address < kRegisterCount ? address : 0] = value;
        return address < kRegisterCount;
    }
    return false;
}

}  // namespace

bool stateWrite(const char* path, const KeptCamera* cameras, uint32_t count, uint32_t current) {
    // A name of this process's own: two processes sharing the state file never
    // write into one temporary file.
    char temporary[4096];
    if (snprintf(temporary, sizeof temporary, "%s.%lu.tmp", path, processId()) >=
        static_cast<int>(sizeof temporary)) {
        return false;
    }
    FILE* file = fopen(temporary, "wb");
    if (file == nullptr) {
        return false;
    }
    fprintf(file, "# Simulated cameras: KVX_SIM_STATE, see simcam/README.md\nplugged-in %u\n",
            current + 1);
    for (uint32_t i = 0; i < count; ++i) {
        writeCamera(file, i, &cameras[i]);
    }
    fprintf(file, "\nend\n");
    bool written = ferror(file) == 0;
    written = fclose(file) == 0 && written;
    return written && replaceFile(temporary, path);
}

const char* stateRead(const char* path, KeptCamera* cameras, uint32_t count, uint32_t* current,
                      uint32_t* line) {
    *line = 0;
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        return "cannot read the file";
    }
    Section section{};
    bool ended = false;
    const char* problem = nullptr;
    char text[kMaxLine];
    while (problem == nullptr && fgets(text, sizeof text, file) != nullptr) {
        ++*line;
        if (text[0] == '#' || text[strspn(text, " \r\n")] == '\0') {
            continue;
        }
        bool endLine = strncmp(text, "end", 3) == 0 && text[3 + strspn(text + 3, " \r\n")] == '\0';
        bool cameraLine = strncmp(text, "camera ", 7) == 0;
        if (ended) {
            problem = "a line after the end line";
        } else if ((endLine || cameraLine) && !sectionWhole(section)) {
            *line = section.line;
            problem = "camera section cut short: its pending, armed and flash lines expected";
        } else if (endLine) {
            ended = true;
        } else if (!readLine(text, cameras, count, current, &section)) {
            problem = "not a line of a state file, or a camera the profile does not have";
        } else if (cameraLine) {
            section.line = *line;
        }
    }
    if (problem == nullptr && ferror(file) != 0) {
        *line = 0;
        problem = "cannot read the file";
    } else if (problem == nullptr && !ended) {
        *line = 0;
        problem = "cut short: the file does not end with the line \"end\"";
    }
    fclose(file);
    return problem;
}
