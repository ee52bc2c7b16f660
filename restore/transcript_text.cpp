// Decoding a saved transcript into lines: byte-order marks, UTF-16 read as
// UTF-8, CR LF, CR CR LF, LF CR and a lone CR as line ends.
#include "restore/transcript_text.h"

#include <cstring>

namespace {

constexpr char HEADING_TEXT[] = "Register values:";
constexpr char PON_TEXT[] = "PON:";
constexpr char SERIAL_TEXT[] = "Serial:";
constexpr int KEY_SIZE = sizeof HEADING_TEXT;

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

}  // namespace

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

Kind keyIn(const char* text, int length) {
    if (holdsKey(text, length, HEADING_TEXT)) {
        return Kind::HEADING;
    }
    if (holdsKey(text, length, PON_TEXT)) {
        return Kind::PON;
    }
    return holdsKey(text, length, SERIAL_TEXT) ? Kind::SERIAL : Kind::NONE;
}

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
