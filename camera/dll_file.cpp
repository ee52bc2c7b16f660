// Reads just enough of a PE file to tell a technician why Windows would not
// load it, and which DLL it needs.
#include "camera/dll_file.h"

#include <cstring>
#include <cwchar>
#include <cwctype>

namespace {

constexpr uint16_t PE32 = 0x10b;
constexpr uint16_t PE32_PLUS = 0x20b;
constexpr uint32_t SECTION_HEADER_BYTES = 40;
constexpr uint32_t IMPORT_DESCRIPTOR_BYTES = 20;

uint16_t u16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t u32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Where a relative address of the image lies in the file; false outside it.
bool fileOffsetOf(const DllFile& dll, uint32_t address, uint32_t* offset) {
    if (address < dll.headerBytes) {
        *offset = address;
        return true;
    }
    for (int i = 0; i < dll.sectionCount; ++i) {
        const Section& s = dll.sections[i];
        if (address >= s.address && address - s.address < s.fileSize) {
            *offset = s.fileOffset + (address - s.address);
            return true;
        }
    }
    return false;
}

// The section table, and whether every section's bytes are in the file: a
// copy or download cut short loses the last ones first.
DllKind readSections(DllFile* dll, uint32_t at, int count) {
    if (count > MAX_SECTIONS) {
        return DllKind::NOT_PE;
    }
    for (int i = 0; i < count; ++i) {
        uint8_t header[SECTION_HEADER_BYTES];
        if (!dll->read(dll->file, at + static_cast<uint32_t>(i) * SECTION_HEADER_BYTES, header,
                       sizeof header)) {
            return DllKind::CUT_SHORT;
        }
        Section& s = dll->sections[i];
        s = {u32(header + 12), u32(header + 8), u32(header + 20), u32(header + 16)};
        if (s.fileSize > 0 && uint64_t{s.fileOffset} + s.fileSize > dll->size) {
            return DllKind::CUT_SHORT;
        }
        dll->sectionCount = i + 1;
    }
    return dll->headerBytes > dll->size ? DllKind::CUT_SHORT : DllKind::PE;
}

DllKind readHeaders(DllFile* dll) {
    uint8_t dos[64];
    if (!dll->read(dll->file, 0, dos, 2) || dos[0] != 'M' || dos[1] != 'Z') {
        return DllKind::NOT_PE;
    }
    // From here on the file says it is a program: what is missing was cut off.
    uint8_t nt[24];
    if (!dll->read(dll->file, 0, dos, sizeof dos) || !dll->read(dll->file, u32(dos + 60), nt, 24)) {
        return DllKind::CUT_SHORT;
    }
    if (std::memcmp(nt, "PE\0\0", 4) != 0) {
        return DllKind::NOT_PE;  // an MS-DOS program
    }
    uint32_t optionalAt = u32(dos + 60) + 24;
    uint16_t optionalBytes = u16(nt + 20);
    // Up to the import table's entry, the second of the data directories.
    uint8_t optional[128]{};
    uint32_t wanted = optionalBytes < sizeof optional ? optionalBytes : sizeof optional;
    if (wanted < 64 || !dll->read(dll->file, optionalAt, optional, wanted)) {
        return wanted < 64 ? DllKind::NOT_PE : DllKind::CUT_SHORT;
    }
    uint16_t magic = u16(optional);
    if (magic != PE32 && magic != PE32_PLUS) {
        return DllKind::NOT_PE;
    }
    uint32_t directories = magic == PE32_PLUS ? 112 : 96;
    uint32_t directoryCount = u32(optional + directories - 4);
    if (directoryCount >= 2 && wanted >= directories + 16) {
        dll->importAddress = u32(optional + directories + 8);
    }
    dll->headerBytes = u32(optional + 60);
    dll->machine = u16(nt + 4);
    return readSections(dll, optionalAt + optionalBytes, u16(nt + 6));
}

}  // namespace

void readDllFile(ReadAt read, void* file, uint64_t size, DllFile* dll) {
    *dll = {};
    dll->read = read;
    dll->file = file;
    dll->size = size;
    dll->kind = size == 0 ? DllKind::EMPTY : readHeaders(dll);
}

bool importedDll(const DllFile& dll, int index, char (&name)[IMPORT_NAME_SIZE]) {
    uint8_t entry[IMPORT_DESCRIPTOR_BYTES];
    uint32_t at = 0;
    uint32_t nameAt = 0;
    if (dll.kind != DllKind::PE || dll.importAddress == 0 || index < 0 ||
        !fileOffsetOf(
            dll, dll.importAddress + static_cast<uint32_t>(index) * IMPORT_DESCRIPTOR_BYTES, &at) ||
        !dll.read(dll.file, at, entry, sizeof entry) || u32(entry + 12) == 0 ||
        !fileOffsetOf(dll, u32(entry + 12), &nameAt) || nameAt >= dll.size) {
        return false;
    }
    uint64_t left = dll.size - nameAt;
    uint32_t bytes =
        left < IMPORT_NAME_SIZE - 1 ? static_cast<uint32_t>(left) : IMPORT_NAME_SIZE - 1;
    std::memset(name, 0, sizeof name);
    return dll.read(dll.file, nameAt, name, bytes) && name[0] != '\0';
}

void withoutInserts(const char* text, const char* name, char* out, int outSize) {
    int length = 0;
    auto put = [&](char c) {
        if (length < outSize - 1) {
            out[length++] = c;
        }
    };
    for (const char* p = text; *p != '\0'; ++p) {
        if (*p == '\r' || *p == '\n') {
            // A text of several lines is shown on one.
            if (length > 0 && out[length - 1] != ' ') {
                put(' ');
            }
        } else if (*p == '%' && p[1] == '0') {
            break;  // the text ends here
        } else if (*p == '%' && p[1] >= '1' && p[1] <= '9') {
            for (const char* n = name; *n != '\0'; ++n) {
                put(*n);
            }
            while (p[1] >= '0' && p[1] <= '9') {
                ++p;
            }
            // A printf-style format for the insert: %1!s!.
            const char* close = p[1] == '!' ? std::strchr(p + 2, '!') : nullptr;
            p = close != nullptr ? close : p;
        } else if (*p == '%' && p[1] != '\0') {
            ++p;  // %% and the like stand for the character after them
            put(*p == 'n' ? ' ' : *p);
        } else {
            put(*p);
        }
    }
    while (length > 0 && out[length - 1] == ' ') {
        --length;
    }
    out[length] = '\0';
}

bool insideFolder(const wchar_t* path, const wchar_t* folder) {
    size_t length = std::wcslen(folder);
    while (length > 0 && folder[length - 1] == L'\\') {
        --length;
    }
    if (length == 0) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (std::towlower(static_cast<wint_t>(path[i])) !=
            std::towlower(static_cast<wint_t>(folder[i]))) {
            return false;  // also where path ends first
        }
    }
    return path[length] == L'\\';
}

bool loadBlockedBySecurity(uint32_t error) {
    // Older MinGW headers lack the names: access denied, virus infected,
    // virus deleted, an invalid image hash (an unsigned DLL under Smart App
    // Control or a code integrity policy), disabled by policy, system
    // integrity policy.
    constexpr uint32_t BLOCKING_ERRORS[] = {5, 225, 226, 577, 1260, 4551};
    for (uint32_t blocking : BLOCKING_ERRORS) {
        if (error == blocking) {
            return true;
        }
    }
    return false;
}
