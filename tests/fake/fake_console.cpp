// The console window double: implements console/platform.h over a few fields.
#include "tests/fake/fake_console.h"

namespace {

int processes = 0;
uint32_t mode = fake::DEFAULT_INPUT_MODE;
std::vector<uint32_t> modesWritten;
bool closeEnabled = true;
bool awake = false;
ScreenBuffer buffer{80, 300};
int changes = 0;

}  // namespace

namespace fake {

void resetConsole(int attached, ScreenBuffer size) {
    processes = attached;
    mode = DEFAULT_INPUT_MODE;
    modesWritten.clear();
    closeEnabled = true;
    awake = false;
    buffer = size;
    changes = 0;
}

uint32_t inputMode() {
    return mode;
}

const std::vector<uint32_t>& inputModesWritten() {
    return modesWritten;
}

bool windowCloseEnabled() {
    return closeEnabled;
}

bool systemKeptAwake() {
    return awake;
}

ScreenBuffer screenBuffer() {
    return buffer;
}

int consoleChanges() {
    return changes;
}

}  // namespace fake

bool readInputMode(uint32_t* bits) {
    *bits = mode;
    return processes > 0;
}

void writeInputMode(uint32_t bits) {
    mode = bits;
    modesWritten.push_back(bits);
    ++changes;
}

bool enableWindowClose(bool enabled) {
    if (processes == 0) {
        return false;
    }
    closeEnabled = enabled;
    ++changes;
    return true;
}

void keepSystemAwake(bool on) {
    awake = on;
}

int consoleProcessCount() {
    return processes;
}

bool readScreenBuffer(ScreenBuffer* size) {
    *size = buffer;
    return processes > 0;
}

void resizeScreenBuffer(ScreenBuffer size) {
    buffer = size;
    ++changes;
}
