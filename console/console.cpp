// Console dialogue helpers on standard input and output.
#include "console/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "console/interrupt.h"
#include "console/window.h"
#include "os/os.h"

namespace {

// A failed write may have lost a line of the table (printRegisterValues).
bool writeFailed = false;
// The run's last words were answered: a "Hit <return>" read its key.
bool endingAnswered = false;
// "Stopped at the user's request." is on the console.
bool stopTold = false;

// In a console window of the tool's own the answers come from the console's
// keys, a line at a time (os.h: readConsoleLine), so that Ctrl-C there is a
// key that stops the run instead of ending the read and closing the window.
bool readingKeys = false;
// The keys' line, up to its Return, and the next of its characters.
char keyLine[256];
int keyLength = 0;
int keyNext = 0;

// The next character of the answer; EOF at the end of input, and at Ctrl-C
// typed as a key, which then asks the run to stop.
int nextCharacter() {
    if (keyNext < keyLength) {
        return static_cast<unsigned char>(keyLine[keyNext++]);
    }
    if (readingKeys) {
        keyNext = 0;
        keyLength = 0;
        switch (readConsoleLine(keyLine, sizeof keyLine, &keyLength)) {
            case ConsoleRead::Line:
                return static_cast<unsigned char>(keyLine[keyNext++]);
            case ConsoleRead::Interrupt:
                interruptByKey();
                return EOF;
            case ConsoleRead::Ended:
                return EOF;
            case ConsoleRead::NoConsole:
                readingKeys = false;
                break;
        }
    }
    return std::getchar();
}

void discardRestOfLine(int c) {
    while (c != '\n' && c != EOF) {
        c = nextCharacter();
    }
}

// Forgets the keys typed before now, from the console and from keyLine.
void discardKeys() {
    discardTypedAhead();
    keyLength = 0;
    keyNext = 0;
}

// The window's last wait: only a line closes it, Ctrl-C there is a key and the
// table stays on the screen.
void waitForClosingLine() {
    discardKeys();
    ConsoleRead read = ConsoleRead::Interrupt;
    while (read == ConsoleRead::Interrupt) {
        read = readConsoleLine(keyLine, sizeof keyLine, &keyLength);
    }
    keyLength = 0;
    if (read == ConsoleRead::NoConsole) {
        std::clearerr(stdin);  // a read an interrupt cut short
        std::getchar();
    }
}

// One character typed after the prompt; EOF also when an interrupt is waiting
// to end the run, as nothing may be answered then.
int readAnswer() {
    discardKeys();
    if (stopRequested()) {
        say("\n");  // the prompt's line, which no return ended
        return EOF;
    }
    readingKeys = ownsConsoleWindow();
    int c = nextCharacter();
    if (stopRequested()) {
        // The line the interrupt ended (InterruptAction::EndRead), whatever it held.
        discardRestOfLine(c);
        return EOF;
    }
    return c;
}

}  // namespace

void startConsole() {
    // Nothing printed would reach the technician, the table included.
    writeFailed = openClosedStandardStreams();
    prepareInterrupts();
    prepareConsoleWindow();
    endingAnswered = false;
    stopTold = false;
}

void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    bool printed = std::vprintf(format, args) >= 0;
    va_end(args);
    if (std::fflush(stdout) != 0 || !printed) {
        writeFailed = true;
    }
    endingAnswered = false;
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

bool tellStop() {
    if (!stopRequested()) {
        return false;
    }
    if (!stopTold) {
        say("Stopped at the user's request.\n");
        stopTold = true;
    }
    return true;
}

bool waitForReturn(const char* message) {
    say("%s", message);
    endingAnswered = readAnswer() != EOF;
    return endingAnswered;
}

bool waitForLine(const char* message) {
    say("%s", message);
    int c = readAnswer();
    if (c == EOF) {
        return false;
    }
    // The rest of this line must not answer the next prompt.
    discardRestOfLine(c);
    return true;
}

char readChoice() {
    int c = readAnswer();
    if (c == EOF) {
        return 'q';  // nobody is left to answer: quitting is the only safe reading
    }
    // Only the rest of this line is discarded: lines typed ahead through a
    // pipe answer later prompts.
    discardRestOfLine(c);
    return static_cast<char>(c);
}

bool readYes() {
    // Room for "yes" and a CR; a longer line is no answer of these.
    char line[4] = {};
    size_t length = 0;
    for (int c = readAnswer(); c != '\n' && c != EOF; c = nextCharacter()) {
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

int closeConsole(int status, bool userQuit) {
    unguardConsoleWindow();
    // An interrupt that no held step has told yet, such as Ctrl-C at a
    // prompt in a window of the tool's own.
    if (tellStop()) {
        status = -1;
        userQuit = false;
    }
    if (windowWaitsToClose(userQuit, endingAnswered)) {
        // The window closes with the tool and takes its text, the table too.
        say("Hit <return> to close this window.\n");
        waitForClosingLine();
    }
    return status;
}
