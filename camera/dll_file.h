// The half of loading KvxQ713.dll that needs no Windows: what a file of that
// name holds by its PE headers, Windows' message texts made fit to print, and
// whether the tool lies in a given folder. The same on every test machine.
#ifndef CAMERA_DLL_FILE_H
#define CAMERA_DLL_FILE_H

#include <stdint.h>
#include <wchar.h>

/// Reads size bytes at offset of file into data; false unless all were read.
using ReadAt = bool (*)(void* file, uint32_t offset, void* data, uint32_t size);

/// What a file's headers say it is: only PE can be a DLL.
enum class DllKind { EMPTY, NOT_PE, CUT_SHORT, PE };

/// Windows loads no image with more sections than this.
constexpr int MAX_SECTIONS = 96;

/// Where a section lies in memory (relative to the image) and in the file.
struct Section {
    uint32_t address;
    uint32_t size;
    uint32_t fileOffset;
    uint32_t fileSize;
};

/// A file read through read(file, ...), with what its headers say.
struct DllFile {
    ReadAt read;
    void* file;
    uint64_t size;
    DllKind kind;
    uint16_t machine;        // IMAGE_FILE_MACHINE_* when kind is PE
    uint32_t importAddress;  // the import table's relative address, 0: none
    uint32_t headerBytes;
    int sectionCount;
    Section sections[MAX_SECTIONS];
};

/// Reads the headers of a file of size bytes.
void readDllFile(ReadAt read, void* file, uint64_t size, DllFile* dll);

/// Room for a DLL's name in an import table.
constexpr int IMPORT_NAME_SIZE = 256;

/// The name of the index-th DLL that dll imports, into name; false past the
/// last one or where the table cannot be read.
bool importedDll(const DllFile& dll, int index, char (&name)[IMPORT_NAME_SIZE]);

/// Windows' message text on one line, each insert (%1, %2!s!) replaced by
/// name, into out of outSize bytes (cut there).
void withoutInserts(const char* text, const char* name, char* out, int outSize);

/// True when Windows' error number for a failed load says that a policy or
/// security software blocked the DLL (access denied, a virus found or
/// removed, application control, an image hash or signature refused).
bool loadBlockedBySecurity(uint32_t error);

/// True when path lies in folder or below it, letter case aside.
bool insideFolder(const wchar_t* path, const wchar_t* folder);

#endif
