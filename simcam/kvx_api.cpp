// The six exported functions of the simulated KvxQ713 library: argument
// checks, injected call failures and the trace line of every call.
#include <string.h>

#include "camera/KvxQ713.h"
#include "simcam/sim_state.h"

#ifdef KVX_SIM_CONSOLE_PROBE
#include <windows.h>
#endif

namespace {

#ifdef KVX_SIM_CONSOLE_PROBE
// A test build's event: the console as the library finds it inside a call.
void traceConsole() {
    DWORD mode = 0;
    CONSOLE_SCREEN_BUFFER_INFO buffer{};
    GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode);
    GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &buffer);
    HMENU menu = GetSystemMenu(GetConsoleWindow(), FALSE);
    UINT close = menu != nullptr ? GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) : 0;
    // Asked as Windows asks at a log-off: the tool's hidden window answers.
    HWND guard = FindWindowW(L"q713 session guard", nullptr);
    DWORD_PTR endsSession = TRUE;
    bool answered =
        guard != nullptr && SendMessageTimeoutW(guard, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF,
                                                SMTO_ABORTIFHUNG, 2000, &endsSession) != 0;
    tracePrint("sim: console input mode 0x%lx, buffer %d lines, close %s, log-off %s", mode,
               buffer.dwSize.Y,
               menu == nullptr            ? "none"
               : (close & MF_GRAYED) != 0 ? "greyed"
                                          : "enabled",
               !answered              ? "unguarded"
               : endsSession != FALSE ? "allowed"
                                      : "refused");
    traceEndLine();
}
#else
void traceConsole() {}
#endif

constexpr uint32_t kDefaultTimeoutMs = 5000;

// What a call starts with: the failure a fail-call line injects, then a missing pointer.
int32_t beginCall(bool pointersGiven) {
    int32_t status = simBeginCall();
    return status == kStatusOk && !pointersGiven ? kStatusBadArgument : status;
}

// Ends the line of a call with its status, and the call.
int32_t traceResult(const char* call, int32_t status) {
    tracePrint("%s -> %d", call, status);
    traceEndLine();
    simEndCall();
    return status;
}

// "KVXreadRegister 600 x2".
void traceRange(const char* call, uint32_t address, uint32_t count) {
    tracePrint("%s %u", call, address);
    if (count != 1) {
        tracePrint(" x%u", count);
    }
}

void traceWords(const uint32_t* data, uint32_t count) {
    for (uint32_t i = 0; data != nullptr && i < count; ++i) {
        tracePrint(" 0x%x", data[i]);
    }
}

// Keeps one call on one line whatever bytes the name holds.
void traceFileName(const char* name) {
    char shown[256];
    size_t n = 0;
    for (; name != nullptr && name[n] != '\0' && n + 1 < sizeof shown; ++n) {
        unsigned char c = static_cast<unsigned char>(name[n]);
        shown[n] = (c >= 0x20 && c != 0x7F) ? name[n] : '?';
    }
    shown[n] = '\0';
    tracePrint(" %s", name != nullptr ? shown : "(null)");
}

}  // namespace

int32_t KVX_CALL KVXinitConfig(KvxConfig* config) {
    int32_t status = beginCall(config != nullptr);
    traceConsole();
    if (status == kStatusOk) {
        memset(config, 0, sizeof *config);
        config->timeoutMs = kDefaultTimeoutMs;
    }
    return traceResult("KVXinitConfig", status);
}

int32_t KVX_CALL KVXopen(KvxConfig* config, KvxHandle* handle) {
    int32_t status = beginCall(config != nullptr && handle != nullptr);
    traceConsole();
    if (status == kStatusOk) {
        status = simOpen(handle);
    }
    return traceResult("KVXopen", status);
}

// An injected failure still drops the link: a closing camera goes whatever the library says.
int32_t KVX_CALL KVXclose(KvxHandle* handle) {
    int32_t status = beginCall(handle != nullptr);
    int32_t closed = handle != nullptr ? simClose(*handle) : kStatusBadArgument;
    if (status == kStatusOk && closed == kStatusOk) {
        *handle = nullptr;
    }
    return traceResult("KVXclose", status != kStatusOk ? status : closed);
}

int32_t KVX_CALL KVXreadRegister(KvxHandle handle, uint32_t address, uint32_t* data,
                                 uint32_t* registerCount) {
    uint32_t count = registerCount != nullptr ? *registerCount : 1;
    int32_t status = beginCall(data != nullptr);
    if (status == kStatusOk) {
        status = simRead(handle, address, count, data);
    }
    traceRange("KVXreadRegister", address, count);
    tracePrint(" -> %d", status);
    traceWords(status == kStatusOk ? data : nullptr, count);
    traceEndLine();
    simEndCall();
    return status;
}

int32_t KVX_CALL KVXwriteRegister(KvxHandle handle, uint32_t address, uint32_t* data,
                                  uint32_t* registerCount) {
    uint32_t count = registerCount != nullptr ? *registerCount : 1;
    int32_t status = beginCall(data != nullptr);
    traceConsole();
    if (status == kStatusOk) {
        status = simWrite(handle, address, count, data);
    }
    traceRange("KVXwriteRegister", address, count);
    traceWords(simRangeValid(address, count) ? data : nullptr, count);
    return traceResult("", status);
}

int32_t KVX_CALL KVXfirmwareUpdate(KvxHandle handle, const uint8_t* filename,
                                   KvxProgressCallback progress) {
    const char* name = reinterpret_cast<const char*>(filename);
    int32_t status = beginCall(name != nullptr);
    traceConsole();
    if (status == kStatusOk) {
        status = simLoadFirmware(handle, name, progress);
    }
    tracePrint("KVXfirmwareUpdate");
    traceFileName(name);
    return traceResult("", status);
}

// Tells the tools they are practising: the maker's library has no such function.
extern "C" KVX_API int32_t q713SimulatedCamera(void) {
    return 1;
}
