// Reads the tables the update tool printed (a heading and fourteen rows) out
// of a saved console text, with the camera each belongs to.
#include "restore/transcript.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/console.h"
#include "console/table_format.h"
#include "os/os.h"

namespace {

// Every line the update tool prints is far shorter.
constexpr int LINE_SIZE = 256;
constexpr int NO_TABLE = -1;

struct Line {
    char buffer[LINE_SIZE];
    const char* text;  // without indentation, trailing blanks and line end
    bool garbled;      // longer than the buffer, or not text: it matches nothing
    int number;
    // Every line takes at least one byte, so counting them against the size
    // the file had when opened keeps line numbers small whatever happens.
    long long bytes;  // read so far, at most one line's NUL bytes short
    long long limit;
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

// The text a transcript holds, whatever Windows saved it as: Notepad's
// 'Unicode' and PowerShell 5.1's > and Out-File write UTF-16 after a byte
// order mark, Notepad's 'UTF-8 with BOM' puts EF BB BF first. UTF-16 is read
// as the same text in UTF-8; everything else byte for byte, as saved.
enum class Encoding { BYTES, UTF16_LE, UTF16_BE };

struct Text {
    std::FILE* file;
    Encoding encoding;
    long long fileBytes;  // UTF-16 only: read so far
    long long limit;      // the file's size when opened
    bool grew;            // more bytes than that were there
    int heldUnit;         // a UTF-16 unit read ahead, or -1
    unsigned char pending[4];
    int pendingNext;
    int pendingCount;
    bool charHeld;  // heldChar was read ahead, to tell a lone CR
    int heldChar;
};

// Reads the byte order mark, if any, and leaves the file after it.
Text startText(std::FILE* file, long long size) {
    Text text{file, Encoding::BYTES, 0, size, false, -1, {}, 0, 0, false, 0};
    unsigned char mark[3] = {};
    size_t got = std::fread(mark, 1, sizeof mark, file);
    long long start = 0;
    if (got >= 2 && mark[0] == 0xFF && mark[1] == 0xFE) {
        text.encoding = Encoding::UTF16_LE;
        start = 2;
    } else if (got >= 2 && mark[0] == 0xFE && mark[1] == 0xFF) {
        text.encoding = Encoding::UTF16_BE;
        start = 2;
    } else if (got == 3 && mark[0] == 0xEF && mark[1] == 0xBB && mark[2] == 0xBF) {
        start = 3;
    }
    std::fseek(file, static_cast<long>(start), SEEK_SET);
    text.fileBytes = start;
    return text;
}

// The next UTF-16 unit, or -1 at the end; a lone last byte reads as U+FFFD.
int readUnit(Text& text) {
    if (text.heldUnit >= 0) {
        int unit = text.heldUnit;
        text.heldUnit = -1;
        return unit;
    }
    if (text.fileBytes >= text.limit) {
        // Anything past the size it had when opened was added since.
        text.grew = std::fgetc(text.file) != EOF;
        return -1;
    }
    int first = std::fgetc(text.file);
    int second = first == EOF ? EOF : std::fgetc(text.file);
    text.fileBytes += (first != EOF) + (second != EOF);
    if (first == EOF) {
        return -1;
    }
    if (second == EOF) {
        return 0xFFFD;
    }
    return text.encoding == Encoding::UTF16_LE ? first | second << 8 : first << 8 | second;
}

// One character from UTF-16, as UTF-8 into pending; false at the end.
bool decodeCharacter(Text& text) {
    int unit = readUnit(text);
    if (unit < 0) {
        return false;
    }
    long code = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
        int low = readUnit(text);
        if (low >= 0xDC00 && low <= 0xDFFF) {
            code = 0x10000 + ((unit - 0xD800L) << 10) + (low - 0xDC00);
        } else {
            code = 0xFFFD;
            text.heldUnit = low;
        }
    } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
        code = 0xFFFD;
    }
    unsigned char* out = text.pending;
    if (code < 0x80) {
        *out++ = static_cast<unsigned char>(code);
    } else if (code < 0x800) {
        *out++ = static_cast<unsigned char>(0xC0 | code >> 6);
        *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        *out++ = static_cast<unsigned char>(0xE0 | code >> 12);
        *out++ = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
        *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
    } else {
        *out++ = static_cast<unsigned char>(0xF0 | code >> 18);
        *out++ = static_cast<unsigned char>(0x80 | (code >> 12 & 0x3F));
        *out++ = static_cast<unsigned char>(0x80 | (code >> 6 & 0x3F));
        *out++ = static_cast<unsigned char>(0x80 | (code & 0x3F));
    }
    text.pendingNext = 0;
    text.pendingCount = static_cast<int>(out - text.pending);
    return true;
}

// std::fgetc on the text.
int nextChar(Text& text) {
    if (text.charHeld) {
        text.charHeld = false;
        return text.heldChar;
    }
    if (text.encoding == Encoding::BYTES) {
        return std::fgetc(text.file);
    }
    if (text.pendingNext == text.pendingCount && !decodeCharacter(text)) {
        return EOF;
    }
    return text.pending[text.pendingNext++];
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// One character of the text; a CR that neither LF nor CR follows (an old Mac
// editor's line end) reads as LF, so that it ends the line. CRs before an LF
// stay part of its line end: CR LF, and CR CR LF as some programs write it.
int readChar(Text& text) {
    int c = nextChar(text);
    if (c != '\r') {
        return c;
    }
    int next = nextChar(text);
    text.charHeld = next != EOF;
    text.heldChar = next;
    return next == '\n' || next == '\r' ? c : '\n';
}

// fgets, with the line ends readChar sees.
bool readUpToLineEnd(Text& file, char* buffer, int size) {
    int length = 0;
    for (int c = 0; length < size - 1 && c != '\n';) {
        c = readChar(file);
        if (c == EOF) {
            break;
        }
        buffer[length++] = static_cast<char>(c);
    }
    return length > 0;
}

// False at the end of the file, or once more bytes were read than the file
// held when opened. A line longer than the buffer is read to its end, so that
// the line numbers in messages stay right.
bool readLine(Text& file, Line* line) {
    // Cleared, so that only a newline read now is found in the buffer.
    std::memset(line->buffer, 0, LINE_SIZE);
    if (line->bytes > line->limit || !readUpToLineEnd(file, line->buffer, LINE_SIZE)) {
        return false;
    }
    ++line->number;
    size_t length = std::strlen(line->buffer);
    const void* newline = std::memchr(line->buffer, '\n', LINE_SIZE);
    // A NUL byte before the newline ends the text early.
    line->garbled =
        newline != nullptr && line->buffer + length != static_cast<const char*>(newline) + 1;
    if (newline != nullptr) {
        line->bytes += static_cast<const char*>(newline) - line->buffer + 1;
    } else {
        line->bytes += length > 0 ? static_cast<long long>(length) : 1;
        int c = readChar(file);
        for (; c != '\n' && c != EOF && line->bytes <= line->limit; c = readChar(file)) {
            line->garbled = true;
            ++line->bytes;
        }
        line->bytes += c == '\n' ? 1 : 0;
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

// A line read against the format the update tool printed it with
// (console/table_format.h): the format's own text must be there exactly, %d
// is a number as parseNumber reads it, %s the rest of the line. A line is read
// without its indentation and line end, so the format's are left out.
struct Match {
    const char* text;
    const char* format;
};

Match startMatch(const char* text, const char* format) {
    while (*format == '\t' || *format == ' ') {
        ++format;
    }
    return {text, format};
}

// The format's text up to its next field or line end.
bool matchText(Match& match) {
    const char* text = match.text;
    const char* format = match.format;
    for (; *format != '%' && *format != '\n' && *format != '\0'; ++format, ++text) {
        if (*text != *format) {
            return false;
        }
    }
    match.text = text;
    match.format = format;
    return true;
}

bool matchNumber(Match& match, int32_t* value) {
    if (std::strncmp(match.format, "%d", 2) != 0 || !parseNumber(&match.text, value)) {
        return false;
    }
    match.format += 2;
    return true;
}

// The rest of the format's text, and the line ends with it.
bool matchEnd(Match& match) {
    return matchText(match) && *match.format != '%' && *match.text == '\0';
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
    Match row = startMatch(line.text, TABLE_ROW);
    if (!matchText(row)) {
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
    if (!matchNumber(row, &address)) {
        fault(reader, line.number, "the address does not parse.");
    } else if (address != expected) {
        char what[80];
        std::snprintf(what, sizeof what, "address %d out of order: address %d expected here.",
                      address, expected);
        fault(reader, line.number, what);
    } else if (line.garbled || !matchText(row) || !matchNumber(row, &value) || !matchEnd(row)) {
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
    Match pon = startMatch(line.text, PON_LINE);
    Match serial = startMatch(line.text, SERIAL_LINE);
    if (matchText(pon)) {
        reader.ponSeen = true;
        reader.serialSeen = false;
        // The rest of the line is the PON. An empty one is never a camera's,
        // so a cut one cannot match.
        bool fits = !line.garbled && std::strlen(pon.text) < sizeof reader.identity.pon;
        std::snprintf(reader.identity.pon, sizeof reader.identity.pon, "%s", fits ? pon.text : "");
    } else if (matchText(serial)) {
        if (line.garbled || !matchNumber(serial, &reader.identity.serial) || !matchEnd(serial)) {
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
    Match heading = startMatch(line.text, TABLE_HEADING);
    if (!line.garbled && matchEnd(heading)) {
        startTable(reader, line);
    } else {
        readIdentity(reader, line);
    }
}

// The name as the messages show it, for the whole run; static, as every large
// buffer here: at most three bytes for each UTF-16 unit in any code page.
const char* shownPath(const PathText* path) {
    static char shown[PATH_UNITS * 3];
    shownText(path, -1, shown, static_cast<int>(sizeof shown));
    return shown;
}

// True when the file is one a transcript may be; otherwise says what it is.
bool acceptable(const char* path, const FileFacts& facts) {
    if (facts.folder) {
        sayError("%s: a folder, not a file with the console text.\n", path);
    } else if (facts.pipe) {
        sayError(
            "%s: a pipe, not a file with the console text: save the text into a file "
            "first.\n",
            path);
    } else if (facts.device) {
        sayError("%s: a device, not a file with the console text.\n", path);
    } else if (!facts.regular) {
        sayError("%s: not a regular file, so not a file with the console text.\n", path);
    } else if (facts.size > TRANSCRIPT_MAX_BYTES) {
        sayError(
            "%s: larger than 64 MiB, far more than a console keeps: not a file with the "
            "console text.\n",
            path);
    } else {
        return true;
    }
    return false;
}

bool unchangedSinceOpened(const TranscriptFile& transcript) {
    FileFacts now{};
    return factsOfFile(transcript.file, &now) && now.size == transcript.size &&
           now.modifiedSeconds == transcript.modifiedSeconds &&
           now.modifiedNanoseconds == transcript.modifiedNanoseconds;
}

}  // namespace

bool openTranscript(const PathText* path, TranscriptFile* transcript) {
    const char* shown = shownPath(path);
    // Looked at before opening: opening a pipe may wait for a writer forever.
    FileFacts facts{};
    if (!factsOfPath(path, &facts)) {
        sayError("%s: cannot open the file (%s).\n", shown, std::strerror(errno));
        return false;
    }
    if (!acceptable(shown, facts)) {
        return false;
    }
    std::FILE* file = openForReading(path);
    if (file == nullptr) {
        sayError("%s: cannot open the file (%s).\n", shown, std::strerror(errno));
        return false;
    }
    // What was opened counts, should the name have changed hands meanwhile.
    if (!factsOfFile(file, &facts) || !acceptable(shown, facts)) {
        std::fclose(file);
        return false;
    }
    *transcript = {shown, file, facts.size, facts.modifiedSeconds, facts.modifiedNanoseconds};
    return true;
}

void closeTranscript(TranscriptFile* transcript) {
    std::fclose(transcript->file);
    transcript->file = nullptr;
}

TranscriptScan scanTranscript(TranscriptFile* transcript, const CameraIdentity* camera) {
    TranscriptScan scan{};
    const char* path = transcript->path;
    // Each reading must see what the first one saw, or the table shown
    // and the table written could differ.
    if (!unchangedSinceOpened(*transcript)) {
        sayError("%s: the file changed while q713-restore ran; run it again.\n", path);
        return scan;
    }
    std::rewind(transcript->file);
    scan.valid = true;
    Reader reader{};
    reader.path = path;
    reader.wanted = camera;
    reader.scan = &scan;
    reader.row = NO_TABLE;
    Text text = startText(transcript->file, transcript->size);
    Line line{};
    // UTF-16 is read as UTF-8, at most three bytes for every two.
    line.limit = text.encoding == Encoding::BYTES ? transcript->size : transcript->size * 3 / 2;
    while (readLine(text, &line)) {
        readTranscriptLine(reader, line);
    }
    if (std::ferror(transcript->file) != 0) {
        sayError("%s: cannot read the file.\n", path);
        scan.valid = false;
    } else if (line.bytes > line.limit || text.grew) {
        sayError("%s: the file changed while q713-restore ran; run it again.\n", path);
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
    return scan;
}
