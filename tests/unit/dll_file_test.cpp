// Telling why KvxQ713.dll would not load from its headers: what is a DLL,
// what was cut short, which DLLs it needs; and Windows' texts made printable.
#include "camera/dll_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

bool readBytes(void* file, uint32_t offset, void* data, uint32_t size) {
    const Bytes& bytes = *static_cast<const Bytes*>(file);
    if (uint64_t{offset} + size > bytes.size()) {
        return false;
    }
    std::memcpy(data, bytes.data() + offset, size);
    return true;
}

void put16(Bytes& b, size_t at, uint16_t v) {
    b[at] = static_cast<uint8_t>(v);
    b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(Bytes& b, size_t at, uint32_t v) {
    put16(b, at, static_cast<uint16_t>(v));
    put16(b, at + 2, static_cast<uint16_t>(v >> 16));
}

// A DLL as a linker lays it out: headers, then one section at 0x1000 (file
// 0x200) holding the import table and the names of the DLLs it needs.
Bytes dll(bool wide, const std::vector<std::string>& imports) {
    Bytes b(0x400, 0);
    b[0] = 'M';
    b[1] = 'Z';
    put32(b, 60, 64);
    std::memcpy(&b[64], "PE\0\0", 4);
    put16(b, 68, wide ? 0x8664 : 0x14c);
    put16(b, 70, 1);
    uint16_t optionalBytes = wide ? 240 : 224;
    put16(b, 84, optionalBytes);
    size_t optional = 88;
    put16(b, optional, wide ? 0x20b : 0x10b);
    put32(b, optional + 60, 0x200);
    size_t directories = optional + (wide ? 112 : 96);
    put32(b, directories - 4, 16);
    put32(b, directories + 8, 0x1000);
    size_t section = optional + optionalBytes;
    put32(b, section + 8, 0x200);
    put32(b, section + 12, 0x1000);
    put32(b, section + 16, 0x200);
    put32(b, section + 20, 0x200);
    uint32_t name = 0x1100;
    for (size_t i = 0; i < imports.size(); ++i) {
        put32(b, 0x200 + i * 20 + 12, name);
        std::memcpy(&b[name - 0x1000 + 0x200], imports[i].c_str(), imports[i].size());
        name += 0x20;
    }
    return b;
}

DllFile read(Bytes& bytes) {
    DllFile file{};
    readDllFile(readBytes, &bytes, bytes.size(), &file);
    return file;
}

std::vector<std::string> importsOf(Bytes& bytes) {
    DllFile file = read(bytes);
    std::vector<std::string> names;
    char name[IMPORT_NAME_SIZE];
    for (int i = 0; importedDll(file, i, name); ++i) {
        names.push_back(name);
    }
    return names;
}

TEST(DllFile, ADllOfEitherWidthNamesItsMachineAndTheDllsItNeedsInOrder) {
    for (bool wide : {true, false}) {
        Bytes bytes = dll(wide, {"KvxStubHelper.dll", "KERNEL32.dll"});
        DllFile file = read(bytes);
        EXPECT_EQ(file.kind, DllKind::PE);
        EXPECT_EQ(file.machine, wide ? 0x8664 : 0x14c);
        EXPECT_EQ(importsOf(bytes),
                  (std::vector<std::string>{"KvxStubHelper.dll", "KERNEL32.dll"}));
    }
}

TEST(DllFile, EmptyTextAndDosProgramsAreNoDlls) {
    Bytes empty;
    EXPECT_EQ(read(empty).kind, DllKind::EMPTY);
    std::string page = "<html>404 Not Found</html>\r\n";
    Bytes text(page.begin(), page.end());
    EXPECT_EQ(read(text).kind, DllKind::NOT_PE);
    Bytes dos = dll(true, {});
    std::memcpy(&dos[64], "NE\0\0", 4);
    EXPECT_EQ(read(dos).kind, DllKind::NOT_PE);
    Bytes noOptionalHeader = dll(true, {});
    put16(noOptionalHeader, 84, 0);
    EXPECT_EQ(read(noOptionalHeader).kind, DllKind::NOT_PE);
    EXPECT_TRUE(importsOf(text).empty());
}

TEST(DllFile, ADllCutAfterAnyByteIsCutShort) {
    Bytes whole = dll(false, {"KvxStubHelper.dll"});
    for (size_t length = 2; length < whole.size(); ++length) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
        ASSERT_EQ(read(cut).kind, DllKind::CUT_SHORT) << length << " bytes";
        ASSERT_TRUE(importsOf(cut).empty());
    }
}

TEST(DllFile, AnImportNameOutsideEverySectionEndsTheList) {
    Bytes bytes = dll(true, {"a.dll", "b.dll"});
    put32(bytes, 0x200 + 20 + 12, 0x9000);
    EXPECT_EQ(importsOf(bytes), std::vector<std::string>{"a.dll"});
    Bytes tooMany = dll(true, {});
    put16(tooMany, 70, MAX_SECTIONS + 1);
    EXPECT_EQ(read(tooMany).kind, DllKind::NOT_PE);
}

std::string printable(const char* text, int size = 256) {
    char out[256];
    withoutInserts(text, "KvxQ713.dll", out, size);
    return out;
}

TEST(WindowsText, InsertsNameTheDllAndLinesBecomeOne) {
    EXPECT_EQ(printable("%1 is not a valid Win32 application.\r\n"),
              "KvxQ713.dll is not a valid Win32 application.");
    EXPECT_EQ(printable("Bad EXE format for %1."), "Bad EXE format for KvxQ713.dll.");
    EXPECT_EQ(printable("%1!s! needs %2.\r\nAsk 100%%%0 never shown"),
              "KvxQ713.dll needs KvxQ713.dll. Ask 100%");
    EXPECT_EQ(printable("%1 is not a valid Win32 application.", 12), "KvxQ713.dll");
}

TEST(TemporaryFolder, InsideMeansBelowItWhateverTheLetterCase) {
    const wchar_t* temp = L"C:\\Users\\Tech\\AppData\\Local\\Temp\\";
    EXPECT_TRUE(insideFolder(L"c:\\users\\tech\\appdata\\local\\temp\\Temp1_q.zip\\q.exe", temp));
    EXPECT_TRUE(insideFolder(L"C:\\Users\\Tech\\AppData\\Local\\Temp\\q.exe",
                             L"C:\\Users\\Tech\\AppData\\Local\\Temp"));
    EXPECT_FALSE(insideFolder(L"C:\\Users\\Tech\\AppData\\Local\\Temporary\\q.exe", temp));
    EXPECT_FALSE(insideFolder(L"C:\\Users\\Tech\\AppData\\Local\\Temp2\\q.exe",
                              L"C:\\Users\\Tech\\AppData\\Local\\Temp"));
    EXPECT_FALSE(insideFolder(L"C:\\q713\\q.exe", temp));
    EXPECT_FALSE(insideFolder(L"C:\\q713\\q.exe", L""));
}

}  // namespace

TEST(LoadFailure, PolicyAndAntivirusNumbersAloneReadAsBlocked) {
    for (uint32_t blocked : {5u, 225u, 226u, 577u, 1260u, 4551u}) {
        EXPECT_TRUE(loadBlockedBySecurity(blocked)) << blocked;
    }
    // Missing, damaged or failing to start: the other reasons.
    for (uint32_t other : {0u, 2u, 126u, 193u, 1114u, 576u, 578u, 224u, 227u}) {
        EXPECT_FALSE(loadBlockedBySecurity(other)) << other;
    }
}
