// Reads the tables the update tool printed (a heading and fourteen rows) out
// of a saved console text, with the camera each belongs to; the lines come
// from restore/transcript_text.h, the faults go to the transcript's reporter.
#include "restore/transcript.h"

#include <cstdio>
#include <cstring>

#include "camera/identification.h"
#include "console/table_format.h"
#include "restore/transcript_text.h"

namespace {

constexpr int NO_TABLE = -1;

// The state of one pass: the identity seen since the last table, and the
// table being read.
struct Reader {
    const TranscriptFile* transcript;
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

// Reports what was found at lineNumber (0: in the file as a whole); address
// and expected as TranscriptFinding has them.
void fault(Reader& reader, int lineNumber, TranscriptFault found, int32_t address = 0,
           int32_t expected = 0) {
    reader.transcript->report({found, reader.transcript->path, lineNumber, address, expected, 0});
    reader.scan->valid = false;
}

// The table a capture printed after its line was not read: the update run's
// text was cut or damaged there.
void checkCaptureEnded(Reader& reader) {
    if (reader.captureLine != 0) {
        fault(reader, reader.captureLine, TranscriptFault::NoTableAfterCapture);
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
        fault(reader, line.number, TranscriptFault::RowExpected, reader.table[reader.row].address);
        reader.row = NO_TABLE;
        return false;
    }
    int32_t address = 0;
    int32_t value = 0;
    int32_t expected = reader.table[reader.row].address;
    if (!matchNumber(row, &address)) {
        fault(reader, line.number, TranscriptFault::AddressUnreadable);
    } else if (address != expected) {
        fault(reader, line.number, TranscriptFault::AddressOutOfOrder, address, expected);
    } else if (line.garbled || !matchText(row) || !matchNumber(row, &value) || !matchEnd(row)) {
        fault(reader, line.number, TranscriptFault::ValueUnreadable);
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
        fault(reader, line.number, TranscriptFault::NotAPonLine);
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
        fault(reader, line.number, TranscriptFault::NotASerialLine);
        reader.identityFaulted = true;
    } else if (line.garbled || !matchNumber(serial, &reader.identity.serial) || !matchEnd(serial)) {
        fault(reader, line.number, TranscriptFault::SerialUnreadable);
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
        fault(reader, line.number, TranscriptFault::NotAHeading);
    } else if (!reader.ponSeen || !reader.serialSeen) {
        // Without its camera's identity, a table could be any camera's; one
        // already reported as damaged is not reported twice.
        if (!reader.identityFaulted) {
            fault(reader, line.number, TranscriptFault::TableWithoutIdentity);
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
        fault(reader, line.number, TranscriptFault::RowWithoutHeading);
        reader.skippingRows = true;
        reader.captureLine = 0;  // its table, reported
    } else if (matchEnd(offsetSearch)) {
        reader.captureLine = line.number;
    } else if (endsCapture(line.text)) {
        reader.captureLine = 0;
    }
}

}  // namespace

TranscriptScan scanTranscript(TranscriptFile* transcript, const CameraIdentity* camera) {
    TranscriptScan scan{};
    const char* path = transcript->path;
    // Each reading must see what the first one saw, or the table shown
    // and the table written could differ.
    if (!unchangedSinceOpened(*transcript)) {
        transcript->report({TranscriptFault::Changed, path, 0, 0, 0, 0});
        return scan;
    }
    std::rewind(transcript->file);
    scan.valid = true;
    Reader reader{};
    reader.transcript = transcript;
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
        fault(reader, 0, TranscriptFault::CannotRead);
    } else if (text.consumed > line.limit || text.grew) {
        fault(reader, 0, TranscriptFault::Changed);
    } else if (reader.row != NO_TABLE) {
        fault(reader, reader.headingLine, TranscriptFault::TableEndsBefore,
              reader.table[reader.row].address);
    } else if (scan.valid && scan.tableCount == 0) {
        fault(reader, 0, TranscriptFault::NoTable);
    }
    return scan;
}
