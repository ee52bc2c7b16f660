// Reading saved console text: which camera a table belongs to, the numbers it
// takes, and what is refused with its file and line.
#include "restore/transcript.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "camera/identification.h"
#include "tests/fake/fake_camera.h"
#include "tests/unit/dialogue.h"

namespace {

constexpr int ADDRESSES[] = {26, 27, 28, 29, 30, 31, 32, 120, 121, 122, 123, 124, 125, 126};

// One file per test: CTest runs the tests of this binary side by side.
std::string path() {
    return testing::TempDir() + "q713_" +
           testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
}

// The heading and fourteen rows with the values first, first + 1, ...
std::string table(int first) {
    std::string text = "Register values:\n";
    for (int address : ADDRESSES) {
        text += "\taddress = " + std::to_string(address) + ", data = " + std::to_string(first++) +
                ".\n";
    }
    return text;
}

std::string identity(const char* pon, int serial) {
    return std::string("PON: ") + pon + "\nSerial: " + std::to_string(serial) +
           "\nRelease date: 14.11.2013\nFirmware version: 2.0.0\n";
}

struct Scanned {
    TranscriptScan scan;
    std::string errors;
};

// Scans text for the camera 410-3105-1 with serial 1001.
Scanned scan(const std::string& text) {
    std::FILE* file = std::fopen(path().c_str(), "wb");
    EXPECT_NE(file, nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    CameraIdentity camera{"410-3105-1", 1001};
    std::string name = path();
    TranscriptFile transcript{};
    testing::internal::CaptureStderr();
    EXPECT_TRUE(openTranscript(name.c_str(), &transcript));
    Scanned scanned{scanTranscript(&transcript, &camera), ""};
    closeTranscript(&transcript);
    scanned.errors = testing::internal::GetCapturedStderr();
    return scanned;
}

// The table with its row for address 26 holding text after "data = ".
std::string tableWithFirstValue(const std::string& value) {
    std::string text = table(1);
    return text.replace(text.find("1.\n"), 2, value);
}

// Text as Notepad's 'Unicode' or PowerShell saves it: a byte order mark, then
// UTF-16 units; each unit of extra goes in at its own place (a char of text
// is one unit).
std::string utf16(const std::string& text, bool littleEndian,
                  const std::vector<std::pair<size_t, uint16_t>>& extra = {}) {
    std::u16string units(text.begin(), text.end());
    for (auto it = extra.rbegin(); it != extra.rend(); ++it) {
        units.insert(it->first, 1, static_cast<char16_t>(it->second));
    }
    std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t unit : units) {
        char low = static_cast<char>(unit & 0xFF);
        char high = static_cast<char>(unit >> 8);
        bytes += littleEndian ? std::string{low, high} : std::string{high, low};
    }
    return bytes;
}

}  // namespace

TEST(TranscriptEncoding, UnicodeAndUtf8WithAMarkReadAsTheTextTheyHold) {
    std::string text = identity("410-3105-1", 1001) + table(7);
    for (const std::string& saved :
         {utf16(text, true), utf16(text, false), "\xEF\xBB\xBF" + text}) {
        Scanned read = scan(saved);
        EXPECT_EQ(read.errors, "");
        EXPECT_TRUE(read.scan.matched);
        EXPECT_EQ(read.scan.matchLine, 5);
        EXPECT_EQ(read.scan.match[13].value, 20);
    }
    // Without its mark UTF-16 is read byte for byte, as before: no table in it.
    EXPECT_FALSE(scan(utf16(text, true).substr(2)).scan.valid);
}

TEST(TranscriptEncoding, BrokenUtf16CostsNoLineEnd) {
    // A lone high surrogate at the end of the release date's line, a lone low
    // one and a non-ASCII character in the first line, and an odd last byte.
    std::string text = "Gespeichert: x\n" + identity("410-3105-1", 1001) + table(1).substr(0, 67);
    std::string saved = utf16(text, true, {{13, 0xDC00}, {14, 0x00E4}, {68, 0xD800}}) + "A";
    Scanned read = scan(saved);
    EXPECT_FALSE(read.scan.matched);
    // The heading is line 6, its two rows 7 and 8; the odd byte is line 9.
    EXPECT_EQ(read.errors, path() + ":9: table cut short: the row for address 28 expected here.\n");
}

TEST(TranscriptCamera, TableBelongsOnlyToThePonAndSerialPrintedSinceTheTableBefore) {
    // The second table has no identity of its own, the third only a PON: any
    // camera's, so the file is refused rather than the first table taken.
    Scanned refused = scan(identity("410-3105-1", 1001) + table(1) + table(100) +
                           "PON: 410-3105-1\n" + table(200));
    EXPECT_FALSE(refused.scan.valid);
    std::string without =
        ": a table without its camera's PON and Serial lines above it: save the "
        "console text again, or correct this line.\n";
    EXPECT_EQ(refused.errors, path() + ":20" + without + path() + ":36" + without);
    EXPECT_FALSE(scan("Serial: 1001\n" + table(1)).scan.valid);

    Scanned other = scan(identity("410-3105-1", 1002) + table(1));
    EXPECT_TRUE(other.scan.valid);
    EXPECT_FALSE(other.scan.matched);
    EXPECT_FALSE(scan(identity("420-0105-1", 1001) + table(1)).scan.matched);
}

TEST(TranscriptCamera, TwoDifferentTablesOfOneIdentityAreNamedByTheirLines) {
    std::string camera = identity("410-3105-1", 1001);
    Scanned twice = scan(camera + table(1) + camera + table(1));
    EXPECT_TRUE(twice.scan.matched);
    EXPECT_EQ(twice.scan.differingLines[0], 0);

    // Another camera's different table between them does not count.
    Scanned differing = scan(camera + table(1) + identity("410-3105-1", 1002) + table(5) + camera +
                             table(1) + camera + table(2) + camera + table(3));
    EXPECT_TRUE(differing.scan.valid);
    EXPECT_EQ(differing.scan.differingLines[0], 43);
    EXPECT_EQ(differing.scan.differingLines[1], 62);
}

// The printer and the reader share their formats; this holds them to one
// another: what the update tool prints, q713-restore reads back as it was.
TEST(TranscriptFormat, TheUpdateToolsIdentityAndTableReadBackUnchanged) {
    fake::reset();
    fake::setRegister(1, (1u << 20) | 1001);  // 410-3105-1, serial 1001
    fake::setRegister(2, 0x14112013);
    fake::setRegister(56, 2u << 11);
    RegisterTable printed;
    initProtectedRegisters(printed);
    const int32_t values[PROTECTED_REGISTER_COUNT] = {
        -2147483647 - 1, 2147483647, -1,     0,       1,         26, 4096, -25,
        32767,           99,         100000, -100000, 123456789, -2};
    for (int i = 0; i < PROTECTED_REGISTER_COUNT; ++i) {
        printed[i].value = values[i];
    }
    testing::internal::CaptureStdout();
    VersionInfo info{};
    EXPECT_EQ(readVersionInfo(nullptr, &info), 0);
    printRegisterValues(printed);
    Scanned read = scan(testing::internal::GetCapturedStdout());
    EXPECT_EQ(read.errors, "");
    ASSERT_TRUE(read.scan.matched);
    for (int i = 0; i < PROTECTED_REGISTER_COUNT; ++i) {
        EXPECT_EQ(read.scan.match[i].address, printed[i].address);
        EXPECT_EQ(read.scan.match[i].value, printed[i].value) << "address " << printed[i].address;
    }
}

TEST(TranscriptNumbers, ThirtyTwoBitValuesReadAndNothingBeyond) {
    Scanned highest = scan(identity("410-3105-1", 1001) + tableWithFirstValue("2147483647."));
    EXPECT_TRUE(highest.scan.matched);
    EXPECT_EQ(highest.scan.match[0].value, 2147483647);
    Scanned lowest = scan(identity("410-3105-1", 1001) + tableWithFirstValue("-2147483648."));
    EXPECT_EQ(lowest.scan.match[0].value, -2147483647 - 1);

    // A value that wrapped around would be written as another number.
    for (const char* value : {"2147483648.", "-2147483649.", "99999999999999999999.", "+5.", "-.",
                              "5", "5.x", "0x10."}) {
        Scanned refused = scan(identity("410-3105-1", 1001) + tableWithFirstValue(value));
        EXPECT_FALSE(refused.scan.valid) << value;
        EXPECT_EQ(refused.errors, path() + ":6: the data value does not parse.\n") << value;
    }
}

TEST(TranscriptFaults, EveryMalformedTableIsReportedWithItsLine) {
    std::string swapped = table(1);
    swapped.replace(swapped.find("address = 27"), 12, "address = 28");
    std::string camera = identity("410-3105-1", 1001);
    Scanned faults = scan(camera + swapped + "Serial: 10o1\n" + camera + table(1).substr(0, 67));
    EXPECT_FALSE(faults.scan.valid);
    EXPECT_EQ(faults.errors, path() + ":7: address 28 out of order: address 27 expected here.\n" +
                                 path() + ":20: the serial number does not parse.\n" + path() +
                                 ":25: table cut short: the file ends before address 28.\n");

    Scanned interrupted = scan(camera + table(1).substr(0, 67) + "------------------------\n");
    EXPECT_EQ(interrupted.errors,
              path() + ":8: table cut short: the row for address 28 expected here.\n");
}

TEST(TranscriptFaults, LongLineCountsAsOneLineAndIsNoRow) {
    std::string longRow = "\taddress = 26, data = 1." + std::string(300, ' ') + "x\n";
    std::string text = std::string(1000, '*') + "\n" + identity("410-3105-1", 1001) +
                       "Register values:\n" + longRow;
    Scanned refused = scan(text);
    EXPECT_EQ(refused.errors, path() + ":7: the data value does not parse.\n");
}

TEST(TranscriptLineEnds, LoneCrEndsALineAsLfAndCrLfDo) {
    std::string text = identity("410-3105-1", 1001) + table(1);
    std::string mac = text;
    for (char& c : mac) {
        c = c == '\n' ? '\r' : c;
    }
    Scanned found = scan(mac);
    EXPECT_TRUE(found.scan.valid) << found.errors;
    EXPECT_TRUE(found.scan.matched);
    EXPECT_EQ(found.scan.matchLine, 5);
    EXPECT_EQ(found.scan.match[13].value, 14);

    // Each line end counts once, also where the line fills the buffer or
    // overflows it: a full line, a CR LF, a CR CR LF, and a CR right after an
    // LF, which is that line end's (LF CR), not an empty line.
    Scanned counted =
        scan(std::string(255, '*') + "\r" + std::string(254, '*') + "\r\n-\r\r\n\r" +
             identity("410-3105-1", 1001) + table(1).substr(0, 67) + "------------------------\r");
    EXPECT_EQ(counted.errors,
              path() + ":11: table cut short: the row for address 28 expected here.\n");
}

TEST(TranscriptFaults, FileWithoutTablesIsRefused) {
    Scanned empty = scan(identity("410-3105-1", 1001));
    EXPECT_FALSE(empty.scan.valid);
    EXPECT_EQ(empty.errors, path() + ": no \"Register values:\" table in the file.\n");
}

// What is refused before anything is read: each would hang, spin or read
// differently a second time.
TEST(TranscriptFile, OnlyARegularFileOfAtMost64MiBIsOpened) {
    std::string fifo = path() + ".fifo";
    unlink(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string large = path() + ".large";
    std::FILE* file = std::fopen(large.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fseek(file, TRANSCRIPT_MAX_BYTES, SEEK_SET), 0);  // one byte too many
    std::fputc('\n', file);
    std::fclose(file);
    const std::pair<std::string, std::string> refused[] = {
        {fifo, ": a pipe, not a file with the console text: save the text into a file first.\n"},
        {"/dev/zero", ": a device, not a file with the console text.\n"},
        {testing::TempDir(), ": a folder, not a file with the console text.\n"},
        {large,
         ": larger than 64 MiB, far more than a console keeps: not a file with the "
         "console text.\n"}};
    for (const auto& [name, message] : refused) {
        TranscriptFile transcript{};
        testing::internal::CaptureStderr();
        EXPECT_FALSE(openTranscript(name.c_str(), &transcript)) << name;
        EXPECT_EQ(testing::internal::GetCapturedStderr(), name + message);
    }
    unlink(fifo.c_str());
    unlink(large.c_str());
}

TEST(TranscriptFile, AChangeBetweenTwoReadingsIsRefused) {
    std::string name = path();
    std::string text = identity("410-3105-1", 1001) + table(1);
    std::FILE* file = std::fopen(name.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs(text.c_str(), file);
    std::fclose(file);
    TranscriptFile transcript{};
    ASSERT_TRUE(openTranscript(name.c_str(), &transcript));
    EXPECT_TRUE(scanTranscript(&transcript, nullptr).valid);
    file = std::fopen(name.c_str(), "ab");
    ASSERT_NE(file, nullptr);
    std::fputs(table(2).c_str(), file);
    std::fclose(file);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(scanTranscript(&transcript, nullptr).valid);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              name + ": the file changed while q713-restore ran; run it again.\n");
    closeTranscript(&transcript);
}

// A later table of the camera whose heading or identity no longer reads as
// the update printed it must refuse the file: skipped, it would let the older
// table pass for the last.
TEST(TranscriptDamage, EveryAlmostLineOfALaterTableRefusesTheFile) {
    std::string older = identity("410-3105-1", 1001) + table(1);   // lines 1-19
    std::string newer = identity("410-3105-1", 1001) + table(50);  // lines 20-38
    std::string advice = ": save the console text again, or correct this line.\n";
    std::string heading = " looks like a table heading but is not one";
    std::string pon = " looks like a PON line but is not one";
    struct Damage {
        const char* what;
        std::string from;
        std::string to;
        std::string error;
    };
    const Damage damages[] = {
        {"a stray byte", "Register values:", "xRegister values:", ":24:" + heading},
        {"a byte order mark", "Register values:", "\xEF\xBB\xBFRegister values:", ":24:" + heading},
        {"text past the buffer", "Register values:", "Register values:" + std::string(300, 'x'),
         ":24:" + heading},
        {"the heading past the buffer",
         "Register values:", std::string(300, 'x') + "Register values:", ":24:" + heading},
        {"a stray byte in the PON line", "PON: ", "yPON: ", ":20:" + pon},
        {"a PON past the buffer", "PON: 410-3105-1", "PON: 410-3105-1" + std::string(300, '1'),
         ":20:" + pon},
        {"a PON the tool never prints", "PON: 410-3105-1", "PON: 410-3105-1x", ":20:" + pon},
        {"a stray byte in the Serial line",
         "Serial: ", "ySerial: ", ":21: looks like a Serial line but is not one"},
        {"no heading", "Register values:\n", "",
         ":24: looks like a table row, but no table heading is above it"},
    };
    for (const Damage& damage : damages) {
        std::string later = newer;
        later.replace(later.find(damage.from), damage.from.size(), damage.to);
        Scanned refused = scan(older + later);
        EXPECT_FALSE(refused.scan.valid) << damage.what;
        EXPECT_EQ(refused.errors, path() + damage.error + advice) << damage.what;
    }
    // Padded with blanks instead, however many, the later table is read.
    std::string padded = newer;
    padded.replace(padded.find("Register values:") + 16, 0, std::string(300, ' '));
    Scanned read = scan(older + padded);
    EXPECT_TRUE(read.scan.valid) << read.errors;
    EXPECT_EQ(read.scan.matchLine, 24);
}

TEST(TranscriptDamage, AnUpdateRunWhoseTableIsMissingRefusesTheFile) {
    std::string camera = identity("410-3105-1", 1001);
    std::string search = "------------------------\nLooking for sequence distance offsets...\n";
    Scanned refused = scan(camera + table(1) + camera + search + camera + table(1));
    EXPECT_EQ(refused.errors, path() +
                                  ":25: no table after this line, where the update printed one: "
                                  "save the console text again, or correct this line.\n");
    EXPECT_FALSE(scan(camera + table(1) + camera + search).scan.valid);
    // A capture that ended without its table says so; a run killed there is
    // followed by the banner of the next.
    for (const char* ending :
         {"The calibration could not be read completely: the camera was not changed. Reconnect it "
          "and run q713-update again.\n",
          "******************************************************\n"}) {
        Scanned read = scan(camera + table(1) + camera + search + ending + camera + table(1));
        EXPECT_TRUE(read.scan.valid) << ending << read.errors;
    }
}

TEST(TranscriptLineEnds, LfCrAndBlanksPastTheBufferReadAsTheLinesTheyEnd) {
    std::string text = identity("410-3105-1", 1001) + table(1);
    std::string lfCr;
    std::string padded;
    for (char c : text) {
        lfCr += c == '\n' ? std::string("\n\r") : std::string(1, c);
        padded += c == '\n' ? std::string(300, ' ') + "\t \r\n" : std::string(1, c);
    }
    for (const std::string& saved : {lfCr, padded, std::string(400, ' ') + text}) {
        Scanned found = scan(saved);
        EXPECT_TRUE(found.scan.valid) << found.errors;
        EXPECT_EQ(found.scan.matchLine, 5);
        EXPECT_EQ(found.scan.match[13].value, 14);
    }
}
