// Reads the tables the update tool printed (a heading and fourteen rows) out
// of a saved console text, with the camera each belongs to.
#include "restore/transcript.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "camera/identification.h"
#include "console/console.h"
#include "console/table_format.h"
#include "os/os.h"

namespace {

// Every line the update tool prints is far shorter.
constexpr int LINE_SIZE = 256;
constexpr int NO_TABLE = -1;

// The texts that make a line part of a table or of the identity before it.
// Quoted, as the tools' own messages quote them, they are not.
enum class Kind { NONE, HEADING, PON, SERIAL };

constexpr char HEADING_TEXT[] = "Register values:";
constexpr char PON_TEXT[] = "PON:";
constexpr char SERIAL_TEXT[] = "Serial:";
constexpr int KEY_SIZE = sizeof HEADING_TEXT;

struct Line {
    char buffer[LINE_SIZE];
    int length;         // of what the buffer holds, NUL bytes and line end included
    const char* text;   // without indentation, trailing blanks and line end
    bool garbled;       // longer than the buffer, or not text: it matches nothing
    Kind beyondBuffer;  // a text of Kind in the part of a long line not kept
    int number;
    // Every line takes at least one character, so reading no more than the
    // file held when opened keeps line numbers small whatever happens.
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
    bool identityFaulted;  // a damaged identity line was reported since the last table
    CameraIdentity tableIdentity;
    // The line after which the update printed its table, while no table or
    // other ending of that capture was read; 0 otherwise.
    int captureLine;
    // Rows after a fault that kept their table from being read: reported with it.
    bool skippingRows;
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
    bool charHeld;  // heldChar was read ahead, to tell a lone CR or an LF CR
    int heldChar;
    long long consumed;  // characters taken from the text, its mark included
};

// Reads the byte order mark, if any, and leaves the file after it.
Text startText(std::FILE* file, long long size) {
    Text text{file, Encoding::BYTES, 0, size, false, -1, {}, 0, 0, false, 0, 0};
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
    text.consumed = start;
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

int decodedChar(Text& text) {
    if (text.encoding == Encoding::BYTES) {
        return std::fgetc(text.file);
    }
    if (text.pendingNext == text.pendingCount && !decodeCharacter(text)) {
        return EOF;
    }
    return text.pending[text.pendingNext++];
}

// std::fgetc on the text.
int nextChar(Text& text) {
    if (text.charHeld) {
        text.charHeld = false;
        return text.heldChar;
    }
    int c = decodedChar(text);
    text.consumed += c != EOF ? 1 : 0;
    return c;
}

void holdChar(Text& text, int c) {
    text.charHeld = c != EOF;
    text.heldChar = c;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// One character of the text; a CR that neither LF nor CR follows (an old Mac
// editor's line end) reads as LF, so that it ends the line. CRs before an LF
// stay part of its line end: CR LF, and CR CR LF as some programs write it;
// so does one CR right after an LF, the line end LF CR.
int readChar(Text& text) {
    int c = nextChar(text);
    if (c == '\n') {
        int next = nextChar(text);
        holdChar(text, next == '\r' ? EOF : next);
        return c;
    }
    if (c != '\r') {
        return c;
    }
    int next = nextChar(text);
    holdChar(text, next);
    return next == '\n' || next == '\r' ? c : '\n';
}

// fgets, with the line ends readChar sees, leaving out the indentation
// however long it is; false at the end of the text.
bool readUpToLineEnd(Text& file, char* buffer, int size, int* length) {
    *length = 0;
    bool read = false;
    for (int c = 0; *length < size - 1 && c != '\n';) {
        c = readChar(file);
        if (c == EOF) {
            break;
        }
        read = true;
        if (*length > 0 || (c != ' ' && c != '\t')) {
            buffer[(*length)++] = static_cast<char>(c);
        }
    }
    return read;
}

// True when text, of length bytes, holds key where no quote opens it.
bool holdsKey(const char* text, int length, const char* key) {
    int keyLength = static_cast<int>(std::strlen(key));
    for (int i = 0; i + keyLength <= length; ++i) {
        if (std::memcmp(text + i, key, static_cast<size_t>(keyLength)) == 0 &&
            (i == 0 || text[i - 1] != '"')) {
            return true;
        }
    }
    return false;
}

// Which of the table's texts a piece of a line holds, the heading first.
Kind keyIn(const char* text, int length) {
    if (holdsKey(text, length, HEADING_TEXT)) {
        return Kind::HEADING;
    }
    if (holdsKey(text, length, PON_TEXT)) {
        return Kind::PON;
    }
    return holdsKey(text, length, SERIAL_TEXT) ? Kind::SERIAL : Kind::NONE;
}

// Reads the rest of a line longer than the buffer up to its end; garbled
// unless only blanks follow, and beyondBuffer names a table's text found there
// (the window carries a text across the buffer's end into it).
void readRestOfLine(Text& file, Line* line) {
    char window[KEY_SIZE * 2] = {};
    int kept = line->length < KEY_SIZE ? line->length : KEY_SIZE - 1;
    std::memcpy(window, line->buffer + line->length - kept, static_cast<size_t>(kept));
    int c = readChar(file);
    for (; c != '\n' && c != EOF && file.consumed <= line->limit; c = readChar(file)) {
        line->garbled = line->garbled || !isBlank(static_cast<char>(c));
        if (kept == static_cast<int>(sizeof window)) {
            std::memmove(window, window + KEY_SIZE, KEY_SIZE);
            kept = KEY_SIZE;
        }
        window[kept++] = static_cast<char>(c);
        Kind kind = c == ':' ? keyIn(window, kept) : Kind::NONE;
        line->beyondBuffer = line->beyondBuffer == Kind::NONE ? kind : line->beyondBuffer;
    }
}

// False at the end of the file, or once more bytes were read than the file
// held when opened. A line longer than the buffer is read to its end, so that
// the line numbers in messages stay right.
bool readLine(Text& file, Line* line) {
    // Cleared, so that only a newline read now is found in the buffer.
    std::memset(line->buffer, 0, LINE_SIZE);
    if (file.consumed > line->limit ||
        !readUpToLineEnd(file, line->buffer, LINE_SIZE, &line->length)) {
        return false;
    }
    ++line->number;
    line->beyondBuffer = Kind::NONE;
    size_t length = std::strlen(line->buffer);
    bool ended = line->length > 0 && line->buffer[line->length - 1] == '\n';
    // A NUL byte before the line end ends the text early.
    line->garbled = static_cast<int>(length) != line->length;
    if (!ended && line->length == LINE_SIZE - 1) {
        readRestOfLine(file, line);
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

// A line the update tool printed in a table or before it, that no longer
// reads as one: skipping it could let an older table pass for the last.
void damaged(Reader& reader, int lineNumber, const char* what) {
    sayError("%s:%d: %s: save the console text again, or correct this line.\n", reader.path,
             lineNumber, what);
    reader.scan->valid = false;
}

// The table a capture printed after its line was not read: the update run's
// text was cut or damaged there.
void checkCaptureEnded(Reader& reader) {
    if (reader.captureLine != 0) {
        damaged(reader, reader.captureLine,
                "no table after this line, where the update printed one");
        reader.captureLine = 0;
    }
}

void finishTable(Reader& reader) {
    TranscriptScan* scan = reader.scan;
    ++scan->tableCount;
    reader.row = NO_TABLE;
    if (reader.wanted == nullptr) {
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
    reader.skippingRows = true;
    return true;
}

// True when text is a PON the update tool prints.
bool printedPon(const char* text) {
    // The table's PONs, then unknownPON for every index beyond it.
    for (int32_t ponIndex = 0;; ++ponIndex) {
        if (std::strcmp(text, ponText(ponIndex)) == 0) {
            return true;
        }
        if (!ponKnown(ponIndex)) {
            return false;
        }
    }
}

// The identity belongs to the next table only: a PON line starts a new one.
void readPon(Reader& reader, const Line& line) {
    checkCaptureEnded(reader);
    reader.ponSeen = false;
    reader.serialSeen = false;
    Match pon = startMatch(line.text, PON_LINE);
    if (line.garbled || line.beyondBuffer != Kind::NONE || !matchText(pon) ||
        !printedPon(pon.text)) {
        damaged(reader, line.number, "looks like a PON line but is not one");
        reader.identityFaulted = true;
        return;
    }
    reader.ponSeen = true;
    std::snprintf(reader.identity.pon, sizeof reader.identity.pon, "%s", pon.text);
}

void readSerial(Reader& reader, const Line& line) {
    reader.serialSeen = false;
    Match serial = startMatch(line.text, SERIAL_LINE);
    if (line.beyondBuffer != Kind::NONE || !matchText(serial)) {
        damaged(reader, line.number, "looks like a Serial line but is not one");
        reader.identityFaulted = true;
    } else if (line.garbled || !matchNumber(serial, &reader.identity.serial) || !matchEnd(serial)) {
        fault(reader, line.number, "the serial number does not parse.");
        reader.identityFaulted = true;
    } else {
        reader.serialSeen = true;
    }
}

void startTable(Reader& reader, const Line& line) {
    reader.captureLine = 0;
    Match heading = startMatch(line.text, TABLE_HEADING);
    reader.skippingRows = true;
    if (line.garbled || line.beyondBuffer != Kind::NONE || !matchEnd(heading)) {
        damaged(reader, line.number, "looks like a table heading but is not one");
    } else if (!reader.ponSeen || !reader.serialSeen) {
        // Without its camera's identity, a table could be any camera's; one
        // already reported as damaged is not reported twice.
        if (!reader.identityFaulted) {
            damaged(reader, line.number,
                    "a table without its camera's PON and Serial lines above it");
        }
    } else {
        reader.skippingRows = false;
        reader.row = 0;
        reader.headingLine = line.number;
        initProtectedRegisters(reader.table);
        reader.tableIdentity = reader.identity;
    }
    reader.ponSeen = false;
    reader.serialSeen = false;
    reader.identityFaulted = false;
}

// A line that opens with a row's text up to its data value.
bool looksLikeRow(const Line& line) {
    Match row = startMatch(line.text, TABLE_ROW);
    int32_t address = 0;
    return matchText(row) && matchNumber(row, &address) && matchText(row);
}

// Lines that end a capture without its table: its failure, an interrupt, or
// the banner of a run that started after the last one was ended.
bool endsCapture(const char* text) {
    Match incomplete = startMatch(text, CAPTURE_INCOMPLETE);
    return matchEnd(incomplete) || std::strcmp(text, "Stopped at the user's request.") == 0 ||
           std::strncmp(text, "*****", 5) == 0;
}

void readTranscriptLine(Reader& reader, const Line& line) {
    if (reader.row != NO_TABLE && readRow(reader, line)) {
        return;
    }
    bool row = looksLikeRow(line);
    if (reader.skippingRows && row) {
        return;
    }
    reader.skippingRows = false;
    Match offsetSearch = startMatch(line.text, OFFSET_SEARCH_LINE);
    Kind kind = keyIn(line.buffer, line.length);
    kind = kind == Kind::NONE ? line.beyondBuffer : kind;
    if (kind == Kind::HEADING) {
        startTable(reader, line);
    } else if (kind == Kind::PON) {
        readPon(reader, line);
    } else if (kind == Kind::SERIAL) {
        readSerial(reader, line);
    } else if (row) {
        damaged(reader, line.number, "looks like a table row, but no table heading is above it");
        reader.skippingRows = true;
        reader.captureLine = 0;  // its table, reported
    } else if (matchEnd(offsetSearch)) {
        reader.captureLine = line.number;
    } else if (endsCapture(line.text)) {
        reader.captureLine = 0;
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
    checkCaptureEnded(reader);
    if (std::ferror(transcript->file) != 0) {
        sayError("%s: cannot read the file.\n", path);
        scan.valid = false;
    } else if (text.consumed > line.limit || text.grew) {
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
