// The console window double: implements console/platform.h over one record.
#include "tests/fake/fake_console.h"

namespace {

fake::Console state{0, fake::DEFAULT_INPUT_MODE, {}, true, false, {80, 300}, 0};

}  // namespace

void fake::resetConsole(int processes, ScreenBuffer buffer) {
    state = Console{processes, DEFAULT_INPUT_MODE, {}, true, false, buffer, 0};
}

const fake::Console& fake::console() {
    return state;
}

bool readInputMode(uint32_t* mode) {
    *mode = state.inputMode;
    return state.processes > 0;
}

void writeInputMode(uint32_t mode) {
    state.inputMode = mode;
    state.inputModesWritten.push_back(mode);
    ++state.changes;
}

bool enableWindowClose(bool enabled) {
    if (state.processes == 0) {
        return false;
    }
    state.closeEnabled = enabled;
    ++state.changes;
    return true;
}

void keepSystemAwake(bool awake) {
    state.systemKeptAwake = awake;
}

int consoleProcessCount() {
    return state.processes;
}

bool readScreenBuffer(ScreenBuffer* buffer) {
    *buffer = state.buffer;
    return state.processes > 0;
}

void resizeScreenBuffer(ScreenBuffer buffer) {
    state.buffer = buffer;
    ++state.changes;
}
