// The firmware version and release date as profiles and image headers write
// them; only real calendar days pass, 29 February only in leap years.
#include "simcam/register_map.h"

#include <stdio.h>
#include <string.h>

namespace {

// "a.b.c" of decimal digits and nothing else, each within the width format gives it.
bool dotted(const char* text, const char* format, unsigned* v) {
    int end = 0;
    return strspn(text, "0123456789.") == strlen(text) &&
           sscanf(text, format, &v[0], &v[1], &v[2], &end) == 3 && text[end] == '\0';
}

}  // namespace

bool parseVersion(const char* text, uint32_t* word) {
    unsigned v[3];
    if (!dotted(text, "%2u.%2u.%2u%n", v) || v[0] > kMaxMajor || v[1] > kMaxMinor ||
        v[2] > kMaxNonfunc) {
        return false;
    }
    *word = versionWord(v[0], v[1], v[2]);
    return true;
}

bool parseRelease(const char* text, uint32_t* word) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    unsigned v[3];
    if (!dotted(text, "%2u.%2u.%4u%n", v) || v[2] < 1000 || v[1] < 1 || v[1] > 12) {
        return false;
    }
    bool leap = v[2] % 4 == 0 && (v[2] % 100 != 0 || v[2] % 400 == 0);
    if (v[0] < 1 || v[0] > kDays[v[1] - 1] + (v[1] == 2 && leap ? 1 : 0)) {
        return false;
    }
    *word = releaseWord(v[0], v[1], v[2]);
    return true;
}
