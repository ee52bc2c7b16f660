// Windows only: why KvxQ713.dll did not load, each way told on the console
// with what to do, from Windows' error and from the file's own headers.
#include "camera/load_failure_windows.h"

#include <stdio.h>
#include <windows.h>

#include "camera/dll_file.h"
#include "console/console.h"

namespace {

// This exe's own architecture, and the other one a DLL may have been built for.
constexpr bool TOOL_64_BIT = sizeof(void*) == 8;
constexpr int TOOL_BITS = TOOL_64_BIT ? 64 : 32;
constexpr WORD OWN_MACHINE = TOOL_64_BIT ? IMAGE_FILE_MACHINE_AMD64 : IMAGE_FILE_MACHINE_I386;
constexpr WORD OTHER_MACHINE = TOOL_64_BIT ? IMAGE_FILE_MACHINE_I386 : IMAGE_FILE_MACHINE_AMD64;
constexpr const char* OTHER_ZIP = TOOL_64_BIT ? "win32" : "win64";
constexpr const char* OTHER_ARCHITECTURE =
    TOOL_64_BIT ? "KvxQ713.dll is a 32-bit DLL, but this tool is 64-bit and cannot use it.\n"
                : "KvxQ713.dll is a 64-bit DLL, but this tool is 32-bit and cannot use it.\n";

// The buffers below are static, as every large one in the tools: no dynamic
// memory, and a path of PATH_UNITS units would take 64 KiB of the stack.
// Only the main thread reaches them, once per run.

// At most three bytes for each UTF-16 unit, in any code page.
char shownBuffer[PATH_UNITS * 3];

// The first units UTF-16 units of text as the console shows them.
const char* shown(const wchar_t* text, int units) {
    shownText(text, units, shownBuffer, static_cast<int>(sizeof shownBuffer));
    return shownBuffer;
}

// Windows' own text for error, without its line end.
const char* errorText(DWORD error) {
    static wchar_t text[1024];  // static: see shownBuffer
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
    static char printable[sizeof text];  // static: what errorText returns
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

void sayNoLibrary(const wchar_t* dllPath, int folderUnits) {
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
bool inTemporaryFolder(const wchar_t* dllPath) {
    static wchar_t temporary[PATH_UNITS];  // static: see shownBuffer
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

}  // namespace

void sayLoadFailed(uint32_t error) {
    say("Windows could not load KvxQ713.dll (error %lu): %s\n", static_cast<unsigned long>(error),
        errorText(error));
    say("%s", COPY_ALL_FILES);
}

namespace {

// What Windows said, where its number alone tells what to do.
void sayByError(DWORD error) {
    if (loadBlockedBySecurity(error)) {
        // Antivirus and the company's application control answer so.
        say("Windows or security software blocked KvxQ713.dll (error %lu): %s\n"
            "Ask the IT department to allow KvxQ713.dll and this tool in this folder.\n",
            error, errorText(error));
        return;
    }
    switch (error) {
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
bool sayMissingImport(const wchar_t* dllPath, const DllFile& dll, int folderUnits) {
    static wchar_t candidate[PATH_UNITS];  // static: see shownBuffer
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

}  // namespace

void sayWhyNotLoaded(const PathText* dllPath, int folderUnits, uint32_t error) {
    DWORD attributes = GetFileAttributesW(dllPath);
    if (attributes == INVALID_FILE_ATTRIBUTES &&
        (GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND)) {
        if (inTemporaryFolder(dllPath)) {
            sayExtractFirst();
        } else {
            sayNoLibrary(dllPath, folderUnits);
        }
        return;
    }
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        sayNotADll("KvxQ713.dll in the folder of this tool is a folder, not the maker's DLL.");
        return;
    }
    // Its headers tell most of what went wrong; one that cannot be read is
    // what a scanner holding the file gives.
    static DllFile dll;  // static: its section table is large for a stack
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
               !sayMissingImport(dllPath, dll, folderUnits)) {
        sayByError(error);
    }
    CloseHandle(file);
}
