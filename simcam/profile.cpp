// Parser for camera profiles. Every bad line is recorded with its line number;
// nothing is skipped silently, and no byte outside the buffer is read.
#include "simcam/profile.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#if defined(__GNUC__)
#define SIMCAM_PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define SIMCAM_PRINTF_LIKE(f, a)
#endif

namespace {

const uint32_t kDefaultCalibration[kProtectedCount] = {
    0x00001234, 0x00000ABC, 0xFFFFFFF4, 0x00010203, 0x00000040, 0x7FFF0001, 0x00000007,
    0x00000100, 0x00000000, 0x00002000, 0x00000000, 0x0000000F, 0x00000000, 0x80000000};
const uint32_t kDefaultFrequencies[kSequenceCount] = {
    5000000, 7500000, 10000000, 15000000, 20000000, 25000000, 30000000, 0, 0, 0, 0, 0};
const int32_t kDefaultOffsets[kSequenceCount] = {12, -7, 30, 0, 57, -120, 4, 0, 0, 0, 0, 0};

struct Text {
    const char* data;
    size_t size;
};

struct Range {
    int64_t min;
    int64_t max;
    const char* text;
};

const Range kWordRange = {-2147483648LL, 4294967295LL, "a 32-bit word"};
const Range kStatusRange = {-2147483648LL, 2147483647LL, "a 32-bit status"};
const Range kCountRange = {0, 4294967295LL, "0..4294967295"};
const Range kCallRange = {1, 4294967295LL, "1..4294967295"};
const Range kRegisterRange = {0, kRegisterCount - 1, "0..1023"};
const Range kSequenceRange = {0, kSequenceCount - 1, "0..11"};
const Range kPonRange = {0, kMaxPon, "0..4095"};
const Range kSerialRange = {0, kMaxSerial, "0..1048575"};
const Range kLoadMsRange = {0, 600000, "0..600000"};
const Range kFlagRange = {0, 1, "0 or 1"};

struct Parser {
    Profile* profile;
    ProfileCamera* camera;  // null until the first [camera]
    uint32_t line;
};

SIMCAM_PRINTF_LIKE(3, 0)
void addError(Profile* profile, uint32_t line, const char* format, va_list args) {
    if (profile->errorCount < kMaxKeptErrors) {
        ProfileError* error = &profile->errors[profile->errorCount];
        error->line = line;
        vsnprintf(error->message, sizeof error->message, format, args);
    }
    ++profile->errorCount;
}

SIMCAM_PRINTF_LIKE(2, 3)
void fail(Parser* parser, const char* format, ...) {
    va_list args;
    va_start(args, format);
    addError(parser->profile, parser->line, format, args);
    va_end(args);
}

// A piece of the input fit to quote in a message: short, and printable.
struct Quoted {
    char text[48];
};

Quoted quote(Text t) {
    Quoted q;
    size_t n = t.size < 40 ? t.size : 40;
    for (size_t i = 0; i < n; ++i) {
        char c = t.data[i];
        q.text[i] = (c >= 0x20 && c < 0x7F) ? c : '?';
    }
    q.text[n] = '\0';
    if (n < t.size) {
        memcpy(q.text + n, "...", 4);
    }
    return q;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

Text slice(Text t, size_t from, size_t to) {
    return Text{t.data + from, to - from};
}

size_t findChar(Text t, char c) {
    const void* hit = t.size == 0 ? nullptr : memchr(t.data, c, t.size);
    return hit ? static_cast<size_t>(static_cast<const char*>(hit) - t.data) : t.size;
}

Text trim(Text t) {
    size_t from = 0;
    size_t to = t.size;
    while (from < to && isSpace(t.data[from])) {
        ++from;
    }
    while (to > from && isSpace(t.data[to - 1])) {
        --to;
    }
    return slice(t, from, to);
}

bool equals(Text t, const char* word) {
    size_t n = strlen(word);
    return t.size == n && memcmp(t.data, word, n) == 0;
}

// Takes the first blank-separated word off the front of rest.
Text nextWord(Text* rest) {
    Text t = trim(*rest);
    size_t end = 0;
    while (end < t.size && !isSpace(t.data[end])) {
        ++end;
    }
    *rest = trim(slice(t, end, t.size));
    return slice(t, 0, end);
}

int digitValue(char c, int base) {
    int value = -1;
    if (c >= '0' && c <= '9') {
        value = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
    }
    return value < base ? value : -1;
}

enum NumberResult { kNumberOk, kNumberMalformed, kNumberOutOfRange };

// Decimal, possibly negative, or 0x hex.
NumberResult parseNumber(Text t, const Range* range, int64_t* out) {
    size_t i = (t.size > 0 && t.data[0] == '-') ? 1 : 0;
    int base = 10;
    if (t.size - i > 2 && t.data[i] == '0' && (t.data[i + 1] == 'x' || t.data[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == t.size) {
        return kNumberMalformed;
    }
    uint64_t value = 0;
    for (size_t k = i; k < t.size; ++k) {
        int digit = digitValue(t.data[k], base);
        if (digit < 0) {
            return kNumberMalformed;
        }
        if (value <= 0xFFFFFFFFFull) {  // past that it is out of range anyway
            value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        }
    }
    *out = t.data[0] == '-' ? -static_cast<int64_t>(value) : static_cast<int64_t>(value);
    return (*out < range->min || *out > range->max) ? kNumberOutOfRange : kNumberOk;
}

bool number(Parser* p, Text t, const char* what, const Range* range, int64_t* out) {
    NumberResult result = parseNumber(t, range, out);
    if (result == kNumberMalformed) {
        fail(p, "malformed number '%s' for %s", quote(t).text, what);
    } else if (result == kNumberOutOfRange) {
        fail(p, "%s %s out of range (expected %s)", what, quote(t).text, range->text);
    }
    return result == kNumberOk;
}

bool word(Parser* p, Text t, const char* what, uint32_t* out) {
    int64_t value = 0;
    bool ok = number(p, t, what, &kWordRange, &value);
    *out = static_cast<uint32_t>(value);  // negative values wrap to their 32-bit pattern
    return ok;
}

bool status(Parser* p, Text t, int32_t* out) {
    int64_t value = 0;
    if (!number(p, t, "status", &kStatusRange, &value)) {
        return false;
    }
    if (value == 0) {
        fail(p, "status 0 would not be a failure");
        return false;
    }
    *out = static_cast<int32_t>(value);
    return true;
}

bool count(Parser* p, Text t, const char* what, const Range* range, uint32_t* out) {
    int64_t value = 0;
    bool ok = number(p, t, what, range, &value);
    *out = static_cast<uint32_t>(value);
    return ok;
}

// "a.b.c" with at most maxDigits[i] decimal digits in part i.
bool dottedNumbers(Text t, const uint32_t* maxDigits, uint32_t parts, uint32_t* out) {
    size_t pos = 0;
    for (uint32_t i = 0; i < parts; ++i) {
        if (i > 0 && (pos >= t.size || t.data[pos++] != '.')) {
            return false;
        }
        uint32_t digits = 0;
        out[i] = 0;
        while (pos < t.size && t.data[pos] >= '0' && t.data[pos] <= '9') {
            if (++digits > maxDigits[i]) {
                return false;
            }
            out[i] = out[i] * 10 + static_cast<uint32_t>(t.data[pos++] - '0');
        }
        if (digits == 0) {
            return false;
        }
    }
    return pos == t.size;
}

void setFirmware(Parser* p, uint32_t, const Text* values) {
    static const uint32_t kDigits[3] = {2, 2, 2};
    uint32_t v[3];
    if (!dottedNumbers(values[0], kDigits, 3, v)) {
        fail(p, "malformed firmware version '%s' (expected major.minor.nonfunc)",
             quote(values[0]).text);
    } else if (v[0] > kMaxMajor || v[1] > kMaxMinor || v[2] > kMaxNonfunc) {
        fail(p, "firmware version '%s' out of range (expected 0..31.0..31.0..63)",
             quote(values[0]).text);
    } else {
        p->camera->registers[kRegVersion] = versionWord(v[0], v[1], v[2]);
    }
}

void setRelease(Parser* p, uint32_t, const Text* values) {
    static const uint32_t kDigits[3] = {2, 2, 4};
    uint32_t v[3];
    if (!dottedNumbers(values[0], kDigits, 3, v) || v[2] < 1000) {
        fail(p, "malformed release date '%s' (expected dd.mm.yyyy)", quote(values[0]).text);
        return;
    }
    uint32_t release = releaseWord(v[0], v[1], v[2]);
    if (!releaseWordValid(release)) {
        fail(p, "release date '%s' is not a calendar day", quote(values[0]).text);
        return;
    }
    p->camera->registers[kRegRelease] = release;
}

void setPon(Parser* p, uint32_t, const Text* values) {
    uint32_t pon = 0;
    if (count(p, values[0], "pon", &kPonRange, &pon)) {
        uint32_t* identity = &p->camera->registers[kRegIdentity];
        *identity = identityWord(pon, *identity & kMaxSerial);
    }
}

void setSerial(Parser* p, uint32_t, const Text* values) {
    uint32_t serial = 0;
    if (count(p, values[0], "serial", &kSerialRange, &serial)) {
        uint32_t* identity = &p->camera->registers[kRegIdentity];
        *identity = identityWord(*identity >> 20, serial);
    }
}

void setRegister(Parser* p, uint32_t address, const Text* values) {
    uint32_t value = 0;
    if (word(p, values[0], "register value", &value)) {
        p->camera->registers[address] = value;
    }
}

void setFlash(Parser* p, uint32_t address, const Text* values) {
    int slot = protectedIndex(address);
    uint32_t value = 0;
    if (slot < 0) {
        fail(p, "register %u is not kept in flash (only 26..32 and 120..126)", address);
    } else if (word(p, values[0], "flash value", &value)) {
        p->camera->flash[slot] = value;
        p->camera->flashGiven |= 1u << slot;
    }
}

void setSequence(Parser* p, uint32_t sequence, const Text* values) {
    uint32_t frequency = 0;
    uint32_t offset = 0;
    if (count(p, values[0], "frequency", &kCountRange, &frequency) &&
        word(p, values[1], "distance offset", &offset)) {
        p->camera->registers[sequenceFrequencyRegister(sequence)] = frequency;
        p->camera->registers[sequenceOffsetRegister(sequence)] = offset;
    }
}

void setOpenFails(Parser* p, uint32_t, const Text* values) {
    uint32_t times = 0;
    int32_t failure = 0;
    if (count(p, values[0], "count", &kCountRange, &times) && status(p, values[1], &failure)) {
        p->camera->openFails = times;
        p->camera->openFailStatus = failure;
    }
}

void setRebootOpenFails(Parser* p, uint32_t, const Text* values) {
    uint32_t times = 0;
    int32_t failure = 0;
    if (count(p, values[0], "count", &kCountRange, &times) && status(p, values[1], &failure)) {
        p->camera->rebootOpenFails = times;
        p->camera->rebootOpenFailStatus = failure;
    }
}

void setLoadMs(Parser* p, uint32_t, const Text* values) {
    count(p, values[0], "load-ms", &kLoadMsRange, &p->camera->loadMs);
}

void setNeverReboots(Parser* p, uint32_t, const Text* values) {
    uint32_t flag = 0;
    if (count(p, values[0], "never-reboots", &kFlagRange, &flag)) {
        p->camera->neverReboots = flag != 0;
    }
}

// A later line for the same register and the same phase replaces the earlier one.
void addFault(Parser* p, const Text* values, bool write, bool afterReboot) {
    RegisterFault fault = {0, 0, afterReboot};
    if (!count(p, values[0], "register", &kRegisterRange, &fault.address) ||
        !status(p, values[1], &fault.status)) {
        return;
    }
    RegisterFault* table = write ? p->camera->writeFaults : p->camera->readFaults;
    uint32_t* used = write ? &p->camera->writeFaultCount : &p->camera->readFaultCount;
    uint32_t i = 0;
    while (i < *used &&
           (table[i].address != fault.address || table[i].afterReboot != afterReboot)) {
        ++i;
    }
    if (i == kMaxRegisterFaults) {
        fail(p, "more than %u register faults of one kind for this camera", kMaxRegisterFaults);
        return;
    }
    table[i] = fault;
    *used = i == *used ? i + 1 : *used;
}

void setReadFails(Parser* p, uint32_t, const Text* values) {
    addFault(p, values, false, false);
}

void setWriteFails(Parser* p, uint32_t, const Text* values) {
    addFault(p, values, true, false);
}

void setReadFailsAfterReboot(Parser* p, uint32_t, const Text* values) {
    addFault(p, values, false, true);
}

void setWriteFailsAfterReboot(Parser* p, uint32_t, const Text* values) {
    addFault(p, values, true, true);
}

void setFailCall(Parser* p, uint32_t, const Text* values) {
    CallFault fault = {0, 0};
    if (!count(p, values[0], "call number", &kCallRange, &fault.call) ||
        !status(p, values[1], &fault.status)) {
        return;
    }
    Profile* profile = p->profile;
    uint32_t i = 0;
    while (i < profile->callFaultCount && profile->callFaults[i].call != fault.call) {
        ++i;
    }
    if (i == kMaxCallFaults) {
        fail(p, "more than %u fail-call lines", kMaxCallFaults);
        return;
    }
    profile->callFaults[i] = fault;
    profile->callFaultCount = i == profile->callFaultCount ? i + 1 : profile->callFaultCount;
}

typedef void (*Setter)(Parser* p, uint32_t index, const Text* values);

struct Key {
    const char* name;
    const Range* index;  // null: no number between the key and '='
    uint32_t valueCount;
    bool global;  // allowed outside a [camera] section
    Setter set;
};

const Key kKeys[] = {
    {"firmware", nullptr, 1, false, setFirmware},
    {"release", nullptr, 1, false, setRelease},
    {"pon", nullptr, 1, false, setPon},
    {"serial", nullptr, 1, false, setSerial},
    {"register", &kRegisterRange, 1, false, setRegister},
    {"flash", &kRegisterRange, 1, false, setFlash},
    {"sequence", &kSequenceRange, 2, false, setSequence},
    {"open-fails", nullptr, 2, false, setOpenFails},
    {"reboot-open-fails", nullptr, 2, false, setRebootOpenFails},
    {"read-fails", nullptr, 2, false, setReadFails},
    {"write-fails", nullptr, 2, false, setWriteFails},
    {"read-fails-after-reboot", nullptr, 2, false, setReadFailsAfterReboot},
    {"write-fails-after-reboot", nullptr, 2, false, setWriteFailsAfterReboot},
    {"load-ms", nullptr, 1, false, setLoadMs},
    {"never-reboots", nullptr, 1, false, setNeverReboots},
    {"fail-call", nullptr, 2, true, setFailCall},
};

const Key* findKey(Text name) {
    for (const Key& key : kKeys) {
        if (equals(name, key.name)) {
            return &key;
        }
    }
    return nullptr;
}

constexpr uint32_t kMaxValues = 2;

struct Setting {
    Text key;
    Text index;  // empty when absent
    Text values[kMaxValues + 1];
    uint32_t valueCount;  // kMaxValues + 1 means too many
};

bool splitSetting(Parser* p, Text left, Text right, Setting* s) {
    s->key = nextWord(&left);
    s->index = nextWord(&left);
    if (left.size > 0 || s->key.size == 0) {
        fail(p, "expected 'key = value' or 'key number = value' before '='");
        return false;
    }
    s->valueCount = 0;
    while (right.size > 0 && s->valueCount <= kMaxValues) {
        s->values[s->valueCount++] = nextWord(&right);
    }
    return true;
}

bool checkShape(Parser* p, const Key* key, const Setting* s) {
    if (!key->global && p->camera == nullptr) {
        fail(p, "'%s' outside a [camera] section", key->name);
    } else if (key->index != nullptr && s->index.size == 0) {
        fail(p, "'%s' needs a number before '='", key->name);
    } else if (key->index == nullptr && s->index.size > 0) {
        fail(p, "'%s' takes no number before '='", key->name);
    } else if (s->valueCount != key->valueCount) {
        fail(p, "'%s' takes %u value%s", key->name, key->valueCount,
             key->valueCount == 1 ? "" : "s");
    } else {
        return true;
    }
    return false;
}

void applySetting(Parser* p, const Setting* s) {
    const Key* key = findKey(s->key);
    if (key == nullptr) {
        fail(p, "unknown key '%s'", quote(s->key).text);
        return;
    }
    if (!checkShape(p, key, s)) {
        return;
    }
    uint32_t index = 0;
    if (key->index == nullptr || count(p, s->index, key->name, key->index, &index)) {
        key->set(p, index, s->values);
    }
}

void parseSection(Parser* p, Text line) {
    Profile* profile = p->profile;
    if (!equals(line, "[camera]")) {
        fail(p, "unknown section '%s' (only [camera])", quote(line).text);
    } else if (profile->cameraCount == kMaxCameras) {
        fail(p, "more than %u cameras", kMaxCameras);
    } else {
        p->camera = &profile->cameras[profile->cameraCount++];
        profileDefaultCamera(p->camera);
    }
}

void parseLine(Parser* p, Text line) {
    line = trim(slice(line, 0, findChar(line, '#')));
    if (line.size == 0) {
        return;
    }
    if (line.data[0] == '[') {
        parseSection(p, line);
        return;
    }
    size_t equalsSign = findChar(line, '=');
    if (equalsSign == line.size) {
        fail(p, "expected 'key = value', found '%s'", quote(line).text);
        return;
    }
    Setting setting;
    if (splitSetting(p, slice(line, 0, equalsSign), slice(line, equalsSign + 1, line.size),
                     &setting)) {
        applySetting(p, &setting);
    }
}

// Flash words no line set start as what the registers hold: the camera booted from them.
void finishCamera(ProfileCamera* camera) {
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        if ((camera->flashGiven & (1u << i)) == 0) {
            camera->flash[i] = camera->registers[kProtectedRegisters[i]];
        }
    }
}

}  // namespace

void profileDefaultCamera(ProfileCamera* camera) {
    memset(camera, 0, sizeof *camera);
    camera->registers[kRegIdentity] = identityWord(1, 4711);
    camera->registers[kRegRelease] = releaseWord(14, 11, 2013);
    camera->registers[kRegVersion] = versionWord(2, 0, 0);
    for (uint32_t i = 0; i < kProtectedCount; ++i) {
        camera->registers[kProtectedRegisters[i]] = kDefaultCalibration[i];
    }
    for (uint32_t i = 0; i < kSequenceCount; ++i) {
        camera->registers[sequenceFrequencyRegister(i)] = kDefaultFrequencies[i];
        camera->registers[sequenceOffsetRegister(i)] = static_cast<uint32_t>(kDefaultOffsets[i]);
    }
}

void profileParse(const char* text, size_t size, Profile* profile) {
    // Each camera is cleared when its section starts: clearing all of them here
    // would cost more instructions than the tool's whole dialogue.
    profile->cameraCount = 0;
    profile->callFaultCount = 0;
    profile->errorCount = 0;
    Parser parser = {profile, nullptr, 0};
    Text all = {text != nullptr ? text : "", text != nullptr ? size : 0};
    size_t start = 0;
    // CR LF, LF and a lone CR each end a line.
    while (start < all.size) {
        size_t end = start;
        while (end < all.size && all.data[end] != '\n' && all.data[end] != '\r') {
            ++end;
        }
        ++parser.line;
        parseLine(&parser, slice(all, start, end));
        start = end +
                (end + 1 < all.size && all.data[end] == '\r' && all.data[end + 1] == '\n' ? 2 : 1);
    }
    if (profile->cameraCount == 0) {
        profileDefaultCamera(&profile->cameras[profile->cameraCount++]);
    }
    for (uint32_t i = 0; i < profile->cameraCount; ++i) {
        finishCamera(&profile->cameras[i]);
    }
}

void profileAddFileError(Profile* profile, const char* message) {
    if (profile->errorCount < kMaxKeptErrors) {
        ProfileError* error = &profile->errors[profile->errorCount];
        error->line = 0;
        snprintf(error->message, sizeof error->message, "%s", message);
    }
    ++profile->errorCount;
}
