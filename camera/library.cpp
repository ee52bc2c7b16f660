// Windows only: KvxQ713.dll loaded from the exe's own folder, each way that can
// fail told on the console rather than in a loader dialog; the six functions
// of camera/KvxQ713.h forward to the loaded ones in the DLL's own convention.
#include "camera/library.h"

#include <stdio.h>
#include <windows.h>

#include "camera/KvxQ713.h"
#include "camera/dll_file.h"
#include "console/console.h"

namespace {

#ifdef _WIN64
// One calling convention on x64, and its exported names are never decorated.
#define LOADED_STDCALL
constexpr int STDCALL_NAMES = 0;
constexpr int TOOL_BITS = 64;
constexpr WORD OWN_MACHINE = IMAGE_FILE_MACHINE_AMD64;
constexpr WORD OTHER_MACHINE = IMAGE_FILE_MACHINE_I386;
constexpr char OTHER_ZIP[] = "win32";
constexpr char OTHER_ARCHITECTURE[] =
    "KvxQ713.dll is a 32-bit DLL, but this tool is 64-bit and cannot use it.\n";
#else
#define LOADED_STDCALL __stdcall
constexpr int STDCALL_NAMES = 2;
constexpr int TOOL_BITS = 32;
constexpr WORD OWN_MACHINE = IMAGE_FILE_MACHINE_I386;
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
char shownBuffer[PATH_UNITS * 3];

// The first units UTF-16 units of text in the console's code page (without a
// console GetConsoleOutputCP gives 0, which means the ANSI code page).
const char* shown(const wchar_t* text, int units) {
    int length = WideCharToMultiByte(GetConsoleOutputCP(), 0, text, units, shownBuffer,
                                     static_cast<int>(sizeof shownBuffer) - 1, nullptr, nullptr);
    shownBuffer[length] = '\0';
    return shownBuffer;
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
    // Some of Windows' texts hold an insert for the file's name: %1 is not...
    static char printable[sizeof text];
    withoutInserts(shown(text, static_cast<int>(length)), "KvxQ713.dll", printable,
                   static_cast<int>(sizeof printable));
    return printable;
}

// The DLL's own reader for dll_file.h: false unless all size bytes were read.
bool readAt(void* file, uint32_t offset, void* data, uint32_t size) {
    OVERLAPPED at{};
    at.Offset = offset;
    DWORD got = 0;
    return ReadFile(static_cast<HANDLE>(file), data, size, &got, &at) && got == size;
}

// Reads the headers of the file at path into dll, which reads on through
// *file until it is closed; false when the file cannot be opened.
bool openDllFile(const wchar_t* path, DllFile* dll, HANDLE* file) {
    *file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    LARGE_INTEGER size{};
    if (*file == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (!GetFileSizeEx(*file, &size)) {
        CloseHandle(*file);
        return false;
    }
    readDllFile(readAt, *file, static_cast<uint64_t>(size.QuadPart), dll);
    return true;
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

// Explorer runs an exe shown inside a zip from a copy of it alone in the
// user's temporary folder, which it deletes afterwards.
bool inTemporaryFolder() {
    static wchar_t temporary[PATH_UNITS];
    DWORD units = GetTempPathW(PATH_UNITS, temporary);
    if (units == 0 || units >= PATH_UNITS) {
        return false;
    }
    // It may come in its short form, C:\Users\TECHNI~1\...
    units = GetLongPathNameW(temporary, temporary, PATH_UNITS);
    return units > 0 && units < PATH_UNITS && insideFolder(dllPath, temporary);
}

void sayExtractFirst() {
    say("This tool was started from inside a zip, in a temporary folder without KvxQ713.dll.\n"
        "Extract all files of the zip into a folder first (Explorer: right-click the zip, "
        "'Extract All'),\n"
        "put KvxQ713.dll beside the tools there and start them from that folder.\n");
}

void sayOtherArchitecture() {
    char zip[64];
    // Named as packaging/CMakeLists.txt names it, with the build's version.
    snprintf(zip, sizeof zip, "q713-update-%d.%d.%d-%s.zip", Q713_VERSION_MAJOR, Q713_VERSION_MINOR,
             Q713_VERSION_PATCH, OTHER_ZIP);
    say("%s", OTHER_ARCHITECTURE);
    say("Unpack %s into the folder of this tool and use its tools instead.\n", zip);
}

// The maker's file itself is broken or is no file: only a new copy helps.
void sayNotADll(const char* what) {
    say("%s\n"
        "Copy the maker's KvxQ713.dll into that folder again, in place of this one.\n",
        what);
}

const char* COPY_ALL_FILES =
    "Copy all files that came with KvxQ713.dll into its folder, and install what the "
    "maker's instructions ask for.\n";

void sayLoadFailed(DWORD error) {
    say("Windows could not load KvxQ713.dll (error %lu): %s\n", error, errorText(error));
    say("%s", COPY_ALL_FILES);
}

// Older MinGW headers lack these two.
constexpr DWORD VIRUS_INFECTED = 225;
constexpr DWORD SYSTEM_INTEGRITY_POLICY_VIOLATION = 4551;

// What Windows said, where its number alone tells what to do.
void sayByError(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED:
        case VIRUS_INFECTED:
        case ERROR_ACCESS_DISABLED_BY_POLICY:
        case SYSTEM_INTEGRITY_POLICY_VIOLATION:
            // Antivirus and the company's application control answer so.
            say("Windows or security software blocked KvxQ713.dll (error %lu): %s\n"
                "Ask the IT department to allow KvxQ713.dll and this tool in this folder.\n",
                error, errorText(error));
            break;
        case ERROR_DLL_INIT_FAILED:
            say("KvxQ713.dll could not start (error 1114): its driver or the maker's device "
                "software may be missing.\n"
                "Install the maker's software for the Lumivor-Q713 as its instructions say, then "
                "start the tool again.\n");
            break;
        case ERROR_BAD_EXE_FORMAT:
            say("A DLL that KvxQ713.dll needs is damaged or for the other architecture (error "
                "193).\n"
                "Copy all files that came with KvxQ713.dll into its folder again, the maker's "
                "%d-bit ones.\n",
                TOOL_BITS);
            break;
        case ERROR_MOD_NOT_FOUND:
            say("A DLL that KvxQ713.dll needs, or one that it needs in turn, is missing (error "
                "126).\n"
                "%s",
                COPY_ALL_FILES);
            break;
        default:
            sayLoadFailed(error);
    }
}

bool fileExists(const wchar_t* path) {
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Windows' API sets (api-ms-win-...) are names, not files.
bool apiSet(const char* name) {
    return _strnicmp(name, "api-", 4) == 0 || _strnicmp(name, "ext-", 4) == 0;
}

// Names the first DLL that KvxQ713.dll imports and Windows could not have
// given it: in neither the tool's folder nor the system folder, or there
// but unusable. False when each is found and usable: then one of theirs is not.
bool sayMissingImport(const DllFile& dll, int folderUnits) {
    static wchar_t candidate[PATH_UNITS];
    char name[IMPORT_NAME_SIZE];
    for (int index = 0; importedDll(dll, index, name); ++index) {
        if (apiSet(name) || GetModuleHandleA(name) != nullptr) {
            continue;
        }
        wcsncpy(candidate, dllPath, static_cast<size_t>(folderUnits) + 1);
        int units = MultiByteToWideChar(CP_ACP, 0, name, -1, candidate + folderUnits + 1,
                                        static_cast<int>(PATH_UNITS) - folderUnits - 1);
        if (units > 0 && fileExists(candidate)) {
            DllFile needed{};
            HANDLE file = INVALID_HANDLE_VALUE;
            bool usable = openDllFile(candidate, &needed, &file) && needed.kind == DllKind::PE &&
                          needed.machine == OWN_MACHINE;
            if (file != INVALID_HANDLE_VALUE) {
                CloseHandle(file);
            }
            if (usable) {
                continue;
            }
            say("KvxQ713.dll needs %s, but the %s in its folder is damaged or for the other "
                "architecture.\n"
                "Copy all files that came with KvxQ713.dll into its folder again, the maker's "
                "%d-bit ones.\n",
                name, name, TOOL_BITS);
            return true;
        }
        UINT systemUnits = GetSystemDirectoryW(candidate, PATH_UNITS);
        if (systemUnits > 0 && systemUnits < PATH_UNITS - 1) {
            candidate[systemUnits] = L'\\';
            units = MultiByteToWideChar(CP_ACP, 0, name, -1, candidate + systemUnits + 1,
                                        static_cast<int>(PATH_UNITS - systemUnits - 1));
            if (units > 0 && fileExists(candidate)) {
                continue;
            }
        }
        say("KvxQ713.dll needs %s, which is neither in its folder nor in Windows' system "
            "folder.\n"
            "%s",
            name, COPY_ALL_FILES);
        return true;
    }
    return false;
}

// Why the DLL at dllPath did not load, from the file itself where it can tell.
void sayWhyNotLoaded(DWORD error, int folderUnits) {
    DWORD attributes = GetFileAttributesW(dllPath);
    if (attributes == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
        if (inTemporaryFolder()) {
            sayExtractFirst();
        } else {
            sayNoLibrary(folderUnits);
        }
        return;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        sayNotADll("KvxQ713.dll in the folder of this tool is a folder, not the maker's DLL.");
        return;
    }
    // Its headers tell most of what went wrong; one that cannot be read is
    // what a scanner holding the file gives.
    static DllFile dll;
    HANDLE file = INVALID_HANDLE_VALUE;
    if (!openDllFile(dllPath, &dll, &file)) {
        sayByError(error);
        return;
    }
    if (dll.kind == DllKind::EMPTY) {
        sayNotADll("KvxQ713.dll in the folder of this tool is empty, not a DLL.");
    } else if (dll.kind == DllKind::NOT_PE) {
        sayNotADll(
            "KvxQ713.dll in the folder of this tool is not a DLL at all (a text file, perhaps, or "
            "a web page).");
    } else if (dll.kind == DllKind::CUT_SHORT) {
        sayNotADll(
            "KvxQ713.dll in the folder of this tool is cut short: the file ends before the "
            "DLL does.");
    } else if (dll.machine == OTHER_MACHINE) {
        sayOtherArchitecture();
    } else if ((error != ERROR_MOD_NOT_FOUND && error != ERROR_BAD_EXE_FORMAT) ||
               !sayMissingImport(dll, folderUnits)) {
        sayByError(error);
    }
    CloseHandle(file);
}

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
