// Reads the tables the update tool printed ("Register values:" and fourteen
// rows) out of a saved console text, with the camera each belongs to.
#include "restore/transcript.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/console.h"

namespace {

// Every line the update tool prints is far shorter.
constexpr int LINE_SIZE = 256;
constexpr int NO_TABLE = -1;

constexpr char HEADING[] = "Register values:";
constexpr char PON_PREFIX[] = "PON: ";
constexpr char SERIAL_PREFIX[] = "Serial: ";
constexpr char ADDRESS_PREFIX[] = "address = ";
constexpr char DATA_PREFIX[] = ", data = ";

struct Line {
    char buffer[LINE_SIZE];
    const char* text;  // without indentation, trailing blanks and line end
    bool garbled;      // longer than the buffer, or not text: it matches nothing
    int number;
};

// The state of one pass: the identity seen since the last table, and the
// table being read.
struct Reader {
    const char* path;
    const CameraIdentity* wanted;
    TranscriptScan* scan;
    CameraIdentity identity;
    bool ponSeen;
    bool serialSeen;
    CameraIdentity tableIdentity;
    bool tableIdentityKnown;
    int row;  // the next row of the table being read, or NO_TABLE
    int headingLine;
    RegisterTable table;
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// False at the end of the file. A line longer than the buffer is read to its
// end, so that the line numbers in messages stay right.
bool readLine(std::FILE* file, Line* line) {
    // Cleared, so that only a newline read now is found in the buffer.
    std::memset(line->buffer, 0, LINE_SIZE);
    if (std::fgets(line->buffer, LINE_SIZE, file) == nullptr) {
        return false;
    }
    ++line->number;
    size_t length = std::strlen(line->buffer);
    const void* newline = std::memchr(line->buffer, '\n', LINE_SIZE);
    // A NUL byte before the newline ends the text early.
    line->garbled =
        newline != nullptr && line->buffer + length != static_cast<const char*>(newline) + 1;
    if (newline == nullptr) {
        for (int c = std::fgetc(file); c != '\n' && c != EOF; c = std::fgetc(file)) {
            line->garbled = true;
        }
    }
    while (length > 0 && isBlank(line->buffer[length - 1])) {
        line->buffer[--length] = '\0';
    }
    line->text = line->buffer;
    while (*line->text == ' ' || *line->text == '\t') {
        ++line->text;
    }
    return true;
}

bool skipPrefix(const char** text, const char* prefix) {
    size_t length = std::strlen(prefix);
    if (std::strncmp(*text, prefix, length) != 0) {
        return false;
    }
    *text += length;
    return true;
}

// A signed decimal as the update tool prints one with %d.
bool parseNumber(const char** text, int32_t* value) {
    const char* p = *text;
    bool negative = *p == '-';
    if (negative) {
        ++p;
    }
    if (*p < '0' || *p > '9') {
        return false;
    }
    int64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > 2147483648LL) {
            return false;
        }
    }
    int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > 2147483647LL) {
        return false;
    }
    *value = static_cast<int32_t>(signedValue);
    *text = p;
    return true;
}

void fault(Reader& reader, int lineNumber, const char* what) {
    sayError("%s:%d: %s\n", reader.path, lineNumber, what);
    reader.scan->valid = false;
}

void finishTable(Reader& reader) {
    TranscriptScan* scan = reader.scan;
    ++scan->tableCount;
    reader.row = NO_TABLE;
    if (reader.wanted == nullptr || !reader.tableIdentityKnown) {
        return;
    }
    if (std::strcmp(reader.tableIdentity.pon, reader.wanted->pon) == 0 &&
        reader.tableIdentity.serial == reader.wanted->serial) {
        // Two cameras may print the same identity; only equal tables can be
        // one camera updated twice.
        if (scan->matched && scan->differingLines[0] == 0 &&
            std::memcmp(scan->match, reader.table, sizeof reader.table) != 0) {
            scan->differingLines[0] = scan->matchLine;
            scan->differingLines[1] = reader.headingLine;
        }
        scan->matched = true;
        scan->matchLine = reader.headingLine;
        std::memcpy(scan->match, reader.table, sizeof reader.table);
    }
}

// False when the line is no row at all: the table was cut short there.
bool readRow(Reader& reader, const Line& line) {
    const char* p = line.text;
    if (!skipPrefix(&p, ADDRESS_PREFIX)) {
        char what[80];
        std::snprintf(what, sizeof what, "table cut short: the row for address %d expected here.",
                      reader.table[reader.row].address);
        fault(reader, line.number, what);
        reader.row = NO_TABLE;
        return false;
    }
    int32_t address = 0;
    int32_t value = 0;
    int32_t expected = reader.table[reader.row].address;
    if (!parseNumber(&p, &address)) {
        fault(reader, line.number, "the address does not parse.");
    } else if (address != expected) {
        char what[80];
        std::snprintf(what, sizeof what, "address %d out of order: address %d expected here.",
                      address, expected);
        fault(reader, line.number, what);
    } else if (line.garbled || !skipPrefix(&p, DATA_PREFIX) || !parseNumber(&p, &value) ||
               std::strcmp(p, ".") != 0) {
        fault(reader, line.number, "the data value does not parse.");
    } else {
        setRegisterValue(reader.table, address, value);
        if (++reader.row == PROTECTED_REGISTER_COUNT) {
            finishTable(reader);
        }
        return true;
    }
    // One report per table: the rest of its rows are not looked at.
    reader.row = NO_TABLE;
    return true;
}

// The identity belongs to the next table only: a PON line starts a new one.
void readIdentity(Reader& reader, const Line& line) {
    const char* p = line.text;
    if (skipPrefix(&p, PON_PREFIX)) {
        reader.ponSeen = true;
        reader.serialSeen = false;
        bool fits = !line.garbled && std::strlen(p) < sizeof reader.identity.pon;
        // An empty PON is never a camera's, so a cut one cannot match.
        std::snprintf(reader.identity.pon, sizeof reader.identity.pon, "%s", fits ? p : "");
    } else if (skipPrefix(&p, SERIAL_PREFIX)) {
        if (line.garbled || !parseNumber(&p, &reader.identity.serial) || *p != '\0') {
            fault(reader, line.number, "the serial number does not parse.");
            reader.serialSeen = false;
            return;
        }
        reader.serialSeen = true;
    }
}

void startTable(Reader& reader, const Line& line) {
    reader.row = 0;
    reader.headingLine = line.number;
    initProtectedRegisters(reader.table);
    reader.tableIdentity = reader.identity;
    reader.tableIdentityKnown = reader.ponSeen && reader.serialSeen;
    reader.ponSeen = false;
    reader.serialSeen = false;
}

void readTranscriptLine(Reader& reader, const Line& line) {
    if (reader.row != NO_TABLE && readRow(reader, line)) {
        return;
    }
    if (!line.garbled && std::strcmp(line.text, HEADING) == 0) {
        startTable(reader, line);
    } else {
        readIdentity(reader, line);
    }
}

}  // namespace

TranscriptScan scanTranscript(const char* path, const CameraIdentity* camera) {
    TranscriptScan scan{};
    scan.valid = true;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) {
        sayError("%s: cannot open the file (%s).\n", path, std::strerror(errno));
        scan.valid = false;
        return scan;
    }
    Reader reader{};
    reader.path = path;
    reader.wanted = camera;
    reader.scan = &scan;
    reader.row = NO_TABLE;
    Line line{};
    while (readLine(file, &line)) {
        readTranscriptLine(reader, line);
    }
    if (std::ferror(file) != 0) {
        sayError("%s: cannot read the file.\n", path);
        scan.valid = false;
    } else if (reader.row != NO_TABLE) {
        char what[80];
        std::snprintf(what, sizeof what, "table cut short: the file ends before address %d.",
                      reader.table[reader.row].address);
        fault(reader, reader.headingLine, what);
    } else if (scan.valid && scan.tableCount == 0) {
        sayError("%s: no \"Register values:\" table in the file.\n", path);
        scan.valid = false;
    }
    std::fclose(file);
    return scan;
}
