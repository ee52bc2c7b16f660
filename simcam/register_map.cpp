// The firmware version and release date as profiles and image headers write
// them; only real calendar days pass, 29 February only in leap years.
#include "simcam/register_map.h"

#include <stdlib.h>
#include <string.h>

namespace {

// "a.b.c" of decimal digits, at most two in a and b and lastDigits in c, nothing else.
bool dotted(const char* text, size_t lastDigits, unsigned* v) {
    for (int i = 0; i < 3; ++i) {
        size_t digits = strspn(text, "0123456789");
        if (digits == 0 || digits > (i == 2 ? lastDigits : 2)) {
            return false;
        }
        v[i] = static_cast<unsigned>(strtoul(text, nullptr, 10));
        text += digits;
        if (*text++ != (i == 2 ? '\0' : '.')) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool parseVersion(const char* text, uint32_t* word) {
    unsigned v[3];
    if (!dotted(text, 2, v) || v[0] > kMaxMajor || v[1] > kMaxMinor || v[2] > kMaxNonfunc) {
        return false;
    }
    *word = versionWord(v[0], v[1], v[2]);
    return true;
}

bool parseRelease(const char* text, uint32_t* word) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    unsigned v[3];
    if (!dotted(text, 4, v) || v[2] < 1000 || v[1] < 1 || v[1] > 12) {
        return false;
    }
    bool leap = v[2] % 4 == 0 && (v[2] % 100 != 0 || v[2] % 400 == 0);
    if (v[0] < 1 || v[0] > kDays[v[1] - 1] + (v[1] == 2 && leap ? 1 : 0)) {
        return false;
    }
    *word = releaseWord(v[0], v[1], v[2]);
    return true;
}
