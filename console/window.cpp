// What the tool does to its console window, decided here and carried out
// through os/os.h.
#include "console/window.h"

#include <cstdint>

#include "os/os.h"

namespace {

// Console input mode bits; quick-edit and insert mode are read and set only
// with the extended flags.
constexpr uint32_t INSERT_MODE = 0x0020;
constexpr uint32_t QUICK_EDIT_MODE = 0x0040;
constexpr uint32_t EXTENDED_FLAGS = 0x0080;

// What a held step changed, to be put back as it was.
struct Guard {
    bool active;
    bool inputModeChanged;
    uint32_t inputMode;
    bool closeGreyed;
};

Guard guard;

}  // namespace

uint32_t restoredInputMode(uint32_t saved) {
    if ((saved & EXTENDED_FLAGS) != 0) {
        return saved;
    }
    // Both are on by default in every console since Windows 10.
    return saved | EXTENDED_FLAGS | QUICK_EDIT_MODE | INSERT_MODE;
}

uint32_t heldInputMode(uint32_t saved) {
    return restoredInputMode(saved) & ~QUICK_EDIT_MODE;
}

void prepareConsoleWindow() {
    ScreenBuffer buffer{};
    if (readScreenBuffer(&buffer) && buffer.height < BUFFER_LINES) {
        resizeScreenBuffer({buffer.width, BUFFER_LINES});
    }
}

void guardConsoleWindow() {
    if (guard.active) {
        return;
    }
    guard = Guard{true, false, 0, false};
    keepSystemAwake(true);
    // A restart in the middle of a load acts as a power cut would.
    refuseSessionEnd(
        "A camera's firmware is being loaded: wait for the tool to ask for the next step.");
    if (readInputMode(&guard.inputMode)) {
        writeInputMode(heldInputMode(guard.inputMode));
        guard.inputModeChanged = true;
    }
    guard.closeGreyed = enableWindowClose(false);
}

void unguardConsoleWindow() {
    if (!guard.active) {
        return;
    }
    if (guard.inputModeChanged) {
        writeInputMode(restoredInputMode(guard.inputMode));
    }
    if (guard.closeGreyed) {
        enableWindowClose(true);
    }
    refuseSessionEnd(nullptr);
    keepSystemAwake(false);
    guard = Guard{};
}

bool ownsConsoleWindow() {
    return consoleProcessCount() == 1;
}

bool windowWaitsToClose(bool userQuit, bool answered) {
    return !userQuit && !answered && ownsConsoleWindow();
}
