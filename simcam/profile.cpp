// Parser for camera profiles, one line at a time through the C library's own
// scanners (strspn, strtoll). Every bad line is recorded with its line number.
#include "simcam/profile.h"

#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "simcam/image.h"

namespace {

constexpr uint32_t kSequenceCount = 12;
constexpr uint32_t kFrequencyRegister = 130;  // of sequence 0; sequence I adds 10 I
constexpr uint32_t kOffsetRegister = 134;
constexpr uint32_t kMaxPon = 0xFFF;
constexpr uint32_t kMaxSerial = 0xFFFFF;

const uint32_t kDefaultCalibration[kProtectedCount] = {
    0x00001234, 0x00000ABC, 0xFFFFFFF4, 0x00010203, 0x00000040, 0x7FFF0001, 0x00000007,
    0x00000100, 0x00000000, 0x00002000, 0x00000000, 0x0000000F, 0x00000000, 0x80000000};
const uint32_t kDefaultFrequencies[kSequenceCount] = {
    5000000, 7500000, 10000000, 15000000, 20000000, 25000000, 30000000, 0, 0, 0, 0, 0};
const int32_t kDefaultOffsets[kSequenceCount] = {12, -7, 30, 0, 57, -120, 4, 0, 0, 0, 0, 0};

constexpr size_t kMaxLine = 255;  // a setting without its comment; any real one is far shorter

struct Range {
    int64_t min;
    int64_t max;
    const char* text;
};

const Range kWord = {-2147483648LL, 4294967295LL, "a 32-bit word"};
const Range kStatus = {-2147483648LL, 2147483647LL, "a nonzero 32-bit status"};
const Range kUnsigned = {0, 4294967295LL, "0..4294967295"};
const Range kCallNumber = {1, 4294967295LL, "1..4294967295"};
const Range kAddress = {0, kRegisterCount - 1, "0..1023"};
const Range kSequenceIndex = {0, kSequenceCount - 1, "0..11"};
const Range kPonRange = {0, kMaxPon, "0..4095"};
const Range kSerialRange = {0, kMaxSerial, "0..1048575"};
const Range kMilliseconds = {0, 600000, "0..600000"};
const Range kFlag = {0, 1, "0 or 1"};
const Range kReport = {1, 5, "1..5"};

enum Setting {
    kFirmware,
    kRelease,
    kPon,
    kSerial,
    kRegister,
    kFlash,
    kSequence,
    kOpenFails,
    kRebootOpenFails,
    kReadFails,
    kWriteFails,
    kLateReadFails,  // read-fails-after-reboot
    kLateWriteFails,
    kLoadMs,
    kNeverReboots,
    kFailCall,  // this and the settings below belong to no camera
    kKillBeforeCall,
    kKillInLoad
};

// The syntax names the key (its first word) and goes into the message for a misshapen line.
struct Key {
    const char* syntax;
    Setting setting;
    const Range* index;  // null: no number between the key and '='
    uint32_t valueCount;
    const Range* values[2];  // null: a version or a date, read by the setting itself
};

const Key kKeys[] = {
    {"firmware = M.m.n", kFirmware, nullptr, 1, {nullptr}},
    {"release = dd.mm.yyyy", kRelease, nullptr, 1, {nullptr}},
    {"pon = N", kPon, nullptr, 1, {&kPonRange}},
    {"serial = N", kSerial, nullptr, 1, {&kSerialRange}},
    {"register A = WORD", kRegister, &kAddress, 1, {&kWord}},
    {"flash A = WORD", kFlash, &kAddress, 1, {&kWord}},
    {"sequence I = HZ OFFSET", kSequence, &kSequenceIndex, 2, {&kUnsigned, &kWord}},
    {"open-fails = N STATUS", kOpenFails, nullptr, 2, {&kUnsigned, &kStatus}},
    {"reboot-open-fails = N STATUS", kRebootOpenFails, nullptr, 2, {&kUnsigned, &kStatus}},
    {"read-fails = A STATUS", kReadFails, nullptr, 2, {&kAddress, &kStatus}},
    {"write-fails = A STATUS", kWriteFails, nullptr, 2, {&kAddress, &kStatus}},
    {"read-fails-after-reboot = A STATUS", kLateReadFails, nullptr, 2, {&kAddress, &kStatus}},
    {"write-fails-after-reboot = A STATUS", kLateWriteFails, nullptr, 2, {&kAddress, &kStatus}},
    {"load-ms = N", kLoadMs, nullptr, 1, {&kMilliseconds}},
    {"never-reboots = 0|1", kNeverReboots, nullptr, 1, {&kFlag}},
    {"fail-call = N STATUS", kFailCall, nullptr, 2, {&kCallNumber, &kStatus}},
    {"kill-before-call = N", kKillBeforeCall, nullptr, 1, {&kCallNumber}},
    {"kill-in-load = N K", kKillInLoad, nullptr, 2, {&kCallNumber, &kReport}},
};

struct Parser {
    Profile* profile;
    ProfileCamera* camera;  // null until the first [camera]
    uint32_t line;
};

SIMCAM_PRINTF_LIKE(2, 3) void fail(Parser* p, const char* format, ...) {
    Profile* profile = p->profile;
    if (profile->errorCount < kMaxKeptErrors) {
        ProfileError* error = &profile->errors[profile->errorCount];
        error->line = p->line;
        va_list args;
        va_start(args, format);
        vsnprintf(error->message, sizeof error->message, format, args);
        va_end(args);
    }
    ++profile->errorCount;
}

// One whole word in C syntax (base 0: 0x hex, a leading 0 octal), within range.
bool number(Parser* p, const char* word, const Range* range, int64_t* out) {
    char* end = nullptr;
    errno = 0;
    *out = strtoll(word, &end, 0);
    if (end == word || *end != '\0') {
        fail(p, "malformed number '%s'", word);
    } else if (errno == ERANGE || *out < range->min || *out > range->max ||
               (range == &kStatus && *out == 0)) {
        fail(p, "%s out of range (expected %s)", word, range->text);
    } else {
        return true;
    }
    return false;
}

// Numbers are checked against their ranges before this, so the casts only narrow.
void apply(Parser* p, Setting setting, uint32_t index, const char* word, const int64_t* v) {
    ProfileCamera* c = p->camera;
    uint32_t first = static_cast<uint32_t>(v[0]);
    int32_t status = static_cast<int32_t>(v[1]);
    int slot = -1;
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        slot = kProtectedRegisters[i] == index ? static_cast<int>(i) : slot;
    }
    if (setting == kFirmware && !parseVersion(word, &c->registers[kRegVersion])) {
        fail(p, "bad firmware version '%s' (expected 0..31.0..31.0..63)", word);
    } else if (setting == kRelease && !parseRelease(word, &c->registers[kRegRelease])) {
        fail(p, "bad release date '%s' (expected a calendar day dd.mm.yyyy)", word);
    } else if (setting == kPon) {
        c->registers[kRegIdentity] = (first << 20) | (c->registers[kRegIdentity] & kMaxSerial);
    } else if (setting == kSerial) {
        c->registers[kRegIdentity] = (c->registers[kRegIdentity] & ~kMaxSerial) | first;
    } else if (setting == kRegister) {
        c->registers[index] = first;
    } else if (setting == kFlash && slot < 0) {
        fail(p, "register %u is not kept in flash (only 26..32 and 120..126)", index);
    } else if (setting == kFlash) {
        c->flash[slot] = first;
        c->flashGiven |= 1u << slot;
    } else if (setting == kSequence) {
        c->registers[kFrequencyRegister + 10 * index] = first;
        c->registers[kOffsetRegister + 10 * index] = static_cast<uint32_t>(v[1]);
    } else if (setting == kOpenFails || setting == kRebootOpenFails) {
        *(setting == kOpenFails ? &c->openFails : &c->rebootOpenFails) = first;
        *(setting == kOpenFails ? &c->openFailStatus : &c->rebootOpenFailStatus) = status;
    } else if (setting >= kReadFails && setting <= kLateWriteFails) {
        if (c->faultCount == kMaxRegisterFaults) {
            fail(p, "more than %u register faults for this camera", kMaxRegisterFaults);
        } else {
            bool write = setting == kWriteFails || setting == kLateWriteFails;
            c->faults[c->faultCount++] = {first, status, write, setting >= kLateReadFails};
        }
    } else if (setting == kLoadMs) {
        c->loadMs = first;
    } else if (setting == kNeverReboots) {
        c->neverReboots = first != 0;
    } else if (setting == kFailCall && p->profile->callFaultCount == kMaxCallFaults) {
        fail(p, "more than %u fail-call lines", kMaxCallFaults);
    } else if (setting == kFailCall) {
        p->profile->callFaults[p->profile->callFaultCount++] = {first, status};
    } else if (setting == kKillBeforeCall) {
        p->profile->killBeforeCall = first;
    } else if (setting == kKillInLoad) {
        p->profile->killLoadCall = first;
        p->profile->killLoadReport = static_cast<uint32_t>(v[1]);
    }
}

const char kBlanks[] = " \t\v\f";

// Cuts the next blank-separated word off the front of *rest; "" when none is left.
char* nextWord(char** rest) {
    char* word = *rest + strspn(*rest, kBlanks);
    char* end = word + strcspn(word, kBlanks);
    *rest = *end != '\0' ? end + 1 : end;
    *end = '\0';
    return word;
}

// "key = values" or "key number = values".
void parseSetting(Parser* p, char* line) {
    char* right = strchr(line, '=');
    if (right == nullptr) {
        return fail(p, "expected 'key = value', found '%s'", line);
    }
    *right++ = '\0';
    char* name = nextWord(&line);
    char* index = nextWord(&line);
    bool extraWord = nextWord(&line)[0] != '\0';
    char* words[3] = {nextWord(&right), nextWord(&right), nextWord(&right)};
    const Key* key = nullptr;
    size_t length = strlen(name);
    for (const Key& candidate : kKeys) {
        if (key == nullptr && strncmp(candidate.syntax, name, length) == 0 &&
            candidate.syntax[length] == ' ') {
            key = &candidate;
        }
    }
    if (key == nullptr) {
        return fail(p, "unknown key '%s'", name);
    }
    if (key->setting < kFailCall && p->camera == nullptr) {
        return fail(p, "'%s' outside a [camera] section", name);
    }
    // One word for each value the key takes, and an index where it takes one.
    bool valuesFit = words[key->valueCount - 1][0] != '\0' && words[key->valueCount][0] == '\0';
    if (extraWord || (index[0] != '\0') != (key->index != nullptr) || !valuesFit) {
        return fail(p, "expected '%s'", key->syntax);
    }
    int64_t v[2] = {0, 0};
    bool ok = key->index == nullptr || number(p, index, key->index, &v[0]);
    uint32_t at = static_cast<uint32_t>(v[0]);
    for (uint32_t i = 0; ok && i < key->valueCount; ++i) {
        ok = key->values[i] == nullptr || number(p, words[i], key->values[i], &v[i]);
    }
    if (ok) {
        apply(p, key->setting, at, words[0], v);
    }
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// Cuts the comment and the blanks, and hands on a printable copy.
void parseLine(Parser* p, const char* text, size_t size) {
    const char* hash = static_cast<const char*>(memchr(text, '#', size));
    size = hash != nullptr ? static_cast<size_t>(hash - text) : size;
    for (; size > 0 && isBlank(text[size - 1]); --size) {
    }
    for (; size > 0 && isBlank(text[0]); --size) {
        ++text;
    }
    if (size > kMaxLine) {
        return fail(p, "line longer than %u characters", static_cast<unsigned>(kMaxLine));
    }
    char line[kMaxLine + 1];
    for (size_t i = 0; i < size; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        line[i] = (c >= 0x20 && c < 0x7F) || isBlank(text[i]) ? text[i] : '?';
    }
    line[size] = '\0';
    Profile* profile = p->profile;
    if (size == 0) {
        return;
    } else if (line[0] != '[') {
        parseSetting(p, line);
    } else if (strcmp(line, "[camera]") != 0) {
        fail(p, "unknown section '%s' (only [camera])", line);
    } else if (profile->cameraCount == kMaxCameras) {
        fail(p, "more than %u cameras", kMaxCameras);
    } else {
        p->camera = &profile->cameras[profile->cameraCount++];
        profileDefaultCamera(p->camera);
    }
}

}  // namespace

void profileDefaultCamera(ProfileCamera* camera) {
    memset(camera, 0, sizeof *camera);
    camera->registers[kRegIdentity] = (1 << 20) | 4711;  // pon 1, serial 4711
    camera->registers[kRegRelease] = releaseWord(14, 11, 2013);
    camera->registers[kRegVersion] = versionWord(2, 0, 0);
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        camera->registers[kProtectedRegisters[i]] = kDefaultCalibration[i];
    }
    for (uint32_t i = 0; i < kSequenceCount; ++i) {
        camera->registers[kFrequencyRegister + 10 * i] = kDefaultFrequencies[i];
        camera->registers[kOffsetRegister + 10 * i] = static_cast<uint32_t>(kDefaultOffsets[i]);
    }
}

// Each camera is cleared when its section starts: clearing all sixteen here
// would cost more than the tool's whole dialogue.
void profileParse(const char* text, size_t size, Profile* profile) {
    profile->cameraCount = 0;
    profile->callFaultCount = 0;
    profile->killBeforeCall = 0;
    profile->killLoadCall = 0;
    profile->killLoadReport = 0;
    profile->errorCount = 0;
    Parser parser = {profile, nullptr, 0};
    for (size_t start = 0, end = 0; start < size; start = end + 1) {
        for (end = start; end < size && text[end] != '\n' && text[end] != '\r'; ++end) {
        }
        ++parser.line;
        parseLine(&parser, text + start, end - start);
        end += end + 1 < size && text[end] == '\r' && text[end + 1] == '\n' ? 1 : 0;  // CR LF
    }
    if (profile->cameraCount == 0) {
        profileDefaultCamera(&profile->cameras[profile->cameraCount++]);
    }
    // Flash words no line set start as what the registers hold: the camera booted from them.
    for (uint32_t i = 0; i < profile->cameraCount; ++i) {
        ProfileCamera* camera = &profile->cameras[i];
        for (uint32_t slot = 0; slot < kProtectedCount; ++slot) {
            if ((camera->flashGiven & (1u << slot)) == 0) {
                camera->flash[slot] = camera->registers[kProtectedRegisters[slot]];
            }
        }
    }
}
