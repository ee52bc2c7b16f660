// Windows only: KvxQ713.dll loaded from the exe's own folder, each way that can
// fail told on the console rather than in a loader dialog; the six functions
// of camera/KvxQ713.h forward to the loaded ones in the DLL's own convention.
#include "camera/library.h"

#include <stdio.h>
#include <windows.h>

#include "camera/KvxQ713.h"
#include "console/console.h"

namespace {

#ifdef _WIN64
// One calling convention on x64, and its exported names are never decorated.
#define LOADED_STDCALL
constexpr int STDCALL_NAMES = 0;
constexpr WORD OTHER_MACHINE = IMAGE_FILE_MACHINE_I386;
constexpr char OTHER_ZIP[] = "win32";
constexpr char OTHER_ARCHITECTURE[] =
    "KvxQ713.dll is a 32-bit DLL, but this tool is 64-bit and cannot use it.\n";
#else
#define LOADED_STDCALL __stdcall
constexpr int STDCALL_NAMES = 2;
constexpr WORD OTHER_MACHINE = IMAGE_FILE_MACHINE_AMD64;
constexpr char OTHER_ZIP[] = "win64";
constexpr char OTHER_ARCHITECTURE[] =
    "KvxQ713.dll is a 64-bit DLL, but this tool is 32-bit and cannot use it.\n";
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

// GCC lets void (*)() stand for any function pointer without a warning.
using AnyFunction = void (*)();

// Each loaded function in one of the two, by its convention. Apart, because
// GCC's optimizer may take two calls through one pointer for the same call
// whatever their convention.
AnyFunction cdeclFunctions[FUNCTION_COUNT];
AnyFunction stdcallFunctions[FUNCTION_COUNT];

// The longest path Windows knows, in UTF-16 units, and the name looked for.
constexpr DWORD PATH_UNITS = 32768;
constexpr wchar_t DLL_NAME[] = L"\\KvxQ713.dll";
wchar_t dllPath[PATH_UNITS];
// At most three bytes for each UTF-16 unit, in any code page.
char shownText[PATH_UNITS * 3];

// The first units UTF-16 units of text in the console's code page (without a
// console GetConsoleOutputCP gives 0, which means the ANSI code page).
const char* shown(const wchar_t* text, int units) {
    int length = WideCharToMultiByte(GetConsoleOutputCP(), 0, text, units, shownText,
                                     static_cast<int>(sizeof shownText) - 1, nullptr, nullptr);
    shownText[length] = '\0';
    return shownText;
}

// Windows' own text for error, without its line end.
const char* errorText(DWORD error) {
    static wchar_t text[1024];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, 0, text, sizeof text / sizeof text[0], nullptr);
    while (length > 0 &&
           (text[length - 1] == L'\n' || text[length - 1] == L'\r' || text[length - 1] == L' ')) {
        --length;
    }
    if (length == 0) {
        return "no description";
    }
    return shown(text, static_cast<int>(length));
}

// False unless all size bytes at offset were read.
bool readAt(HANDLE file, DWORD offset, void* data, DWORD size) {
    OVERLAPPED at{};
    at.Offset = offset;
    DWORD got = 0;
    return ReadFile(file, data, size, &got, &at) && got == size;
}

// The machine a PE file says it was built for; 0 when it says nothing readable.
WORD machineOf(const wchar_t* path) {
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 0;
    }
    IMAGE_DOS_HEADER dos{};
    struct {
        DWORD signature;
        IMAGE_FILE_HEADER header;
    } pe{};
    WORD machine = 0;
    if (readAt(file, 0, &dos, sizeof dos) && dos.e_magic == IMAGE_DOS_SIGNATURE &&
        readAt(file, static_cast<DWORD>(dos.e_lfanew), &pe, sizeof pe) &&
        pe.signature == IMAGE_NT_SIGNATURE) {
        machine = pe.header.Machine;
    }
    CloseHandle(file);
    return machine;
}

void sayNoLibrary(int folderUnits) {
    // A drive's root keeps its backslash: E:\ rather than E:.
    if (dllPath[folderUnits - 1] == L':') {
        ++folderUnits;
    }
    say("KvxQ713.dll, the maker's camera library, is not in the folder of this tool:\n"
        "%s\n"
        "Copy KvxQ713.dll into that folder and start the tool again.\n",
        shown(dllPath, folderUnits));
}

void sayOtherArchitecture() {
    char zip[64];
    // Named as packaging/CMakeLists.txt names it, with the build's version.
    snprintf(zip, sizeof zip, "q713-update-%d.%d.%d-%s.zip", Q713_VERSION_MAJOR, Q713_VERSION_MINOR,
             Q713_VERSION_PATCH, OTHER_ZIP);
    say("%s", OTHER_ARCHITECTURE);
    say("Unpack %s into the folder of this tool and use its tools instead.\n", zip);
}

void sayLoadFailed(DWORD error) {
    say("Windows could not load KvxQ713.dll (error %lu): %s\n", error, errorText(error));
    say("A library that KvxQ713.dll needs may be missing.\n"
        "Copy all files that came with KvxQ713.dll into its folder, and install what the "
        "maker's instructions ask for.\n");
}

// Why the DLL at dllPath did not load, from the file itself where it can tell.
void sayWhyNotLoaded(DWORD error, int folderUnits) {
    bool missing =
        GetFileAttributesW(dllPath) == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND);
    if (missing) {
        sayNoLibrary(folderUnits);
    } else if (machineOf(dllPath) == OTHER_MACHINE) {
        sayOtherArchitecture();
    } else {
        sayLoadFailed(error);
    }
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
    DWORD length = GetModuleFileNameW(nullptr, dllPath, PATH_UNITS);
    if (length == 0 || length >= PATH_UNITS) {
        sayLoadFailed(length == 0 ? GetLastError() : ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    // The folder ends at the exe's last backslash, where the DLL's name goes.
    DWORD folderUnits = length;
    while (folderUnits > 0 && dllPath[folderUnits - 1] != L'\\') {
        --folderUnits;
    }
    if (folderUnits == 0 || folderUnits + sizeof DLL_NAME / sizeof DLL_NAME[0] > PATH_UNITS) {
        sayLoadFailed(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    --folderUnits;
    wcscpy(dllPath + folderUnits, DLL_NAME);

    // The full path keeps the DLL to the exe's folder; the altered search path
    // looks for the DLLs it needs beside it first. No dialog box for a broken file.
    DWORD errorMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS, &errorMode);
    HMODULE library = LoadLibraryExW(dllPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    DWORD error = GetLastError();
    SetThreadErrorMode(errorMode, nullptr);
    if (library == nullptr) {
        sayWhyNotLoaded(error, static_cast<int>(folderUnits));
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
