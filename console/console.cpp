// Console dialogue helpers on standard input and output.
#include "console/console.h"

#include <cstdarg>
#include <cstdio>

void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

bool waitForReturn(const char* message) {
    say("%s", message);
    return std::getchar() != EOF;
}

char readChoice() {
    int c = std::getchar();
    if (c == EOF) {
        return 'q';  // nobody is left to answer: quitting is the only safe reading
    }
    // Only the rest of this line is discarded: lines typed ahead answer later prompts.
    for (int rest = c; rest != '\n' && rest != EOF;) {
        rest = std::getchar();
    }
    return static_cast<char>(c);
}
