// Windows only: KvxQ713.dll loaded from the exe's own folder, each way that can
// fail told on the console (camera/load_failure_windows.cpp) rather than in a
// loader dialog; the six functions of camera/KvxQ713.h forward to the loaded
// ones in the DLL's own convention.
#include "camera/library.h"

#include <windows.h>

#include "camera/KvxQ713.h"
#include "camera/load_failure_windows.h"
#include "console/console.h"
#include "os/os.h"

namespace {

#ifdef _WIN64
// One calling convention on x64, and its exported names are never decorated.
#define LOADED_STDCALL
constexpr int STDCALL_NAMES = 0;
#else
#define LOADED_STDCALL __stdcall
constexpr int STDCALL_NAMES = 2;
#endif

// A 32-bit DLL's undecorated names say nothing of the convention; the maker's
// header does, and the build passes it on (KVX_CALLING_CONVENTION).
#ifdef KVX_UNDECORATED_STDCALL
constexpr bool UNDECORATED_STDCALL = true;
#else
constexpr bool UNDECORATED_STDCALL = false;
#endif

enum Function {
    INIT_CONFIG,
    OPEN,
    CLOSE,
    READ_REGISTER,
    WRITE_REGISTER,
    FIRMWARE_UPDATE,
    FUNCTION_COUNT
};

// Each function's name, then its __stdcall names in a 32-bit DLL, as MinGW and
// as Microsoft's compiler export them (@ the bytes of its arguments).
constexpr const char* NAMES[FUNCTION_COUNT][3] = {
    {"KVXinitConfig", "KVXinitConfig@4", "_KVXinitConfig@4"},
    {"KVXopen", "KVXopen@8", "_KVXopen@8"},
    {"KVXclose", "KVXclose@4", "_KVXclose@4"},
    {"KVXreadRegister", "KVXreadRegister@16", "_KVXreadRegister@16"},
    {"KVXwriteRegister", "KVXwriteRegister@16", "_KVXwriteRegister@16"},
    {"KVXfirmwareUpdate", "KVXfirmwareUpdate@12", "_KVXfirmwareUpdate@12"},
};

// Each loaded function in one of the two, by its convention. Apart, because
// GCC's optimizer may take two calls through one pointer for the same call
// whatever their convention.
AnyFunction cdeclFunctions[FUNCTION_COUNT];
AnyFunction stdcallFunctions[FUNCTION_COUNT];

// The name looked for in the exe's folder, and the whole path. Static: no
// dynamic memory, and PATH_UNITS units would take 64 KiB of the stack.
constexpr wchar_t DLL_NAME[] = L"\\KvxQ713.dll";
wchar_t dllPath[PATH_UNITS];

// The search flags came with AddDllDirectory, in Windows 8 and in Windows 7's
// update KB2533623.
bool searchFlagsKnown() {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    return kernel != nullptr && GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

// A decorated name proves __stdcall; an undecorated one is what the build says.
bool findFunction(HMODULE library, Function function) {
    for (int name = STDCALL_NAMES; name >= 0; --name) {
        FARPROC address = GetProcAddress(library, NAMES[function][name]);
        if (address != nullptr) {
            bool stdcall = name > 0 || UNDECORATED_STDCALL;
            (stdcall ? stdcallFunctions : cdeclFunctions)[function] =
                reinterpret_cast<AnyFunction>(address);
            return true;
        }
    }
    say("KvxQ713.dll has no function %s: it is not the camera library this tool was made for.\n"
        "Copy the maker's KvxQ713.dll for the Lumivor-Q713 into the folder of this tool.\n",
        NAMES[function][0]);
    return false;
}

template <typename... Args>
int32_t callLoaded(Function function, Args... args) {
    if (stdcallFunctions[function] != nullptr) {
        return reinterpret_cast<int32_t(LOADED_STDCALL*)(Args...)>(stdcallFunctions[function])(
            args...);
    }
    return reinterpret_cast<int32_t (*)(Args...)>(cdeclFunctions[function])(args...);
}

// The loaded DLL is the training package's simulated camera.
bool simulated = false;

// A __stdcall library calls its progress callback as __stdcall: this one hands
// each call on to the tool's callback of the load under way.
KvxProgressCallback toolProgress;

int32_t LOADED_STDCALL stdcallProgress(int32_t status, uint8_t percentage) {
    return toolProgress(status, percentage);
}

}  // namespace

bool loadCameraLibrary() {
    // The DLL's name goes where the exe's folder ends.
    int folderUnits = 0;
    uint32_t folderError = exeFolder(dllPath, PATH_UNITS, &folderUnits);
    if (folderError == 0 &&
        folderUnits + 1 + sizeof DLL_NAME / sizeof DLL_NAME[0] > static_cast<size_t>(PATH_UNITS)) {
        folderError = ERROR_FILENAME_EXCED_RANGE;
    }
    if (folderError != 0) {
        sayLoadFailed(folderError);
        return false;
    }
    wcscpy(dllPath + folderUnits, DLL_NAME);

    // The full path keeps the DLL to the exe's folder, and the DLLs it needs
    // are looked for only there and in Windows' own folders: a DLL of the same
    // name in the working folder (a USB stick, Downloads) or along PATH would
    // run inside the process that writes to the camera. Without the search
    // flags (Windows 7 without KB2533623) the working folder is at least taken
    // out; that also keeps it from the DLL's own later loads. No dialog box
    // for a broken file.
    SetDllDirectoryW(L"");
    DWORD search = searchFlagsKnown()
                       ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS
                       : LOAD_WITH_ALTERED_SEARCH_PATH;
    DWORD errorMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &errorMode);
    HMODULE library = LoadLibraryExW(dllPath, nullptr, search);
    DWORD error = GetLastError();
    SetThreadErrorMode(errorMode, nullptr);
    if (library == nullptr) {
        sayWhyNotLoaded(dllPath, folderUnits, error);
        return false;
    }
    for (int function = 0; function < FUNCTION_COUNT; ++function) {
        if (!findFunction(library, static_cast<Function>(function))) {
            return false;
        }
    }
    simulated = GetProcAddress(library, "q713SimulatedCamera") != nullptr;
    return true;
}

bool simulatedCameraLibrary() {
    return simulated;
}

int32_t KVXinitConfig(KvxConfig* config) {
    return callLoaded(INIT_CONFIG, config);
}

int32_t KVXopen(KvxConfig* config, KvxHandle* handle) {
    return callLoaded(OPEN, config, handle);
}

int32_t KVXclose(KvxHandle* handle) {
    return callLoaded(CLOSE, handle);
}

int32_t KVXreadRegister(KvxHandle handle, uint32_t address, uint32_t* data,
                        uint32_t* registerCount) {
    return callLoaded(READ_REGISTER, handle, address, data, registerCount);
}

int32_t KVXwriteRegister(KvxHandle handle, uint32_t address, uint32_t* data,
                         uint32_t* registerCount) {
    return callLoaded(WRITE_REGISTER, handle, address, data, registerCount);
}

int32_t KVXfirmwareUpdate(KvxHandle handle, const uint8_t* filename, KvxProgressCallback progress) {
    if (stdcallFunctions[FIRMWARE_UPDATE] == nullptr || progress == nullptr) {
        return callLoaded(FIRMWARE_UPDATE, handle, filename, progress);
    }
    toolProgress = progress;
    return callLoaded(FIRMWARE_UPDATE, handle, filename, &stdcallProgress);
}
