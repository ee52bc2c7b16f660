// Console dialogue helpers on standard input and output.
#include "console/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "console/terminal.h"

namespace {

// The printed lines are the technician's only record of the calibration.
bool writeFailed = false;

void discardRestOfLine(int c) {
    while (c != '\n' && c != EOF) {
        c = std::getchar();
    }
}

}  // namespace

void startConsole() {
    // Nothing printed would reach the technician, the table included.
    writeFailed = openClosedStandardStreams();
    prepareTerminal();
}

void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    bool printed = std::vprintf(format, args) >= 0;
    va_end(args);
    if (std::fflush(stdout) != 0 || !printed) {
        writeFailed = true;
    }
}

void sayError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}

bool outputFailed() {
    return writeFailed;
}

bool stopRequested() {
    if (!interruptHeldBack()) {
        return false;
    }
    say("Stopped at the user's request.\n");
    return true;
}

bool waitForReturn(const char* message) {
    say("%s", message);
    discardTypedAhead();
    return std::getchar() != EOF;
}

bool waitForLine(const char* message) {
    say("%s", message);
    discardTypedAhead();
    int c = std::getchar();
    if (c == EOF) {
        return false;
    }
    // The rest of this line must not answer the next prompt.
    discardRestOfLine(c);
    return true;
}

char readChoice() {
    discardTypedAhead();
    int c = std::getchar();
    if (c == EOF) {
        return 'q';  // nobody is left to answer: quitting is the only safe reading
    }
    // Only the rest of this line is discarded: lines typed ahead through a
    // pipe answer later prompts.
    discardRestOfLine(c);
    return static_cast<char>(c);
}

bool readYes() {
    discardTypedAhead();
    // Room for "yes" and a CR; a longer line is no answer of these.
    char line[4] = {};
    size_t length = 0;
    for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
        if (length < sizeof line) {
            line[length] = static_cast<char>(c);
        }
        length += length <= sizeof line ? 1 : 0;
    }
    // A Windows console ends the line with CR LF.
    if (length > 0 && length <= sizeof line && line[length - 1] == '\r') {
        --length;
    }
    return (length == 1 && line[0] == 'y') || (length == 3 && std::memcmp(line, "yes", 3) == 0);
}
