// The text of a saved transcript, line by line, whatever Windows saved it as:
// byte-order marks, UTF-16, the line ends of any editor, and which of the
// table's texts a line holds. It only reads: restore/transcript.cpp judges
// the lines.
#ifndef RESTORE_TRANSCRIPT_TEXT_H
#define RESTORE_TRANSCRIPT_TEXT_H

#include <cstdio>

/// Every line the update tool prints is far shorter.
constexpr int LINE_SIZE = 256;

/// The texts that make a line part of a table or of the identity before it.
/// Quoted, as the tools' own messages quote them, they are not.
enum class Kind { NONE, HEADING, PON, SERIAL };

/// One line of the text, as readLine leaves it.
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

/// The text a transcript holds, whatever Windows saved it as: Notepad's
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

/// Reads the byte order mark, if any, and leaves the file after it.
Text startText(std::FILE* file, long long size);

/// Reads the next line into line; false at the end of the file, or once more
/// characters were read than line->limit. A line longer than the buffer is
/// read to its end, so that the line numbers in messages stay right.
bool readLine(Text& file, Line* line);

/// Which of the table's texts a piece of a line of length bytes holds, the
/// heading first.
Kind keyIn(const char* text, int length);

#endif
