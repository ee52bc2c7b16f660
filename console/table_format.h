// The lines that keep a camera's calibration in the console text: the update
// tool prints them and q713-restore reads them back, both with these formats.
#ifndef CONSOLE_TABLE_FORMAT_H
#define CONSOLE_TABLE_FORMAT_H

/// The identity lines that name the camera of the next table.
constexpr char PON_LINE[] = "PON: %s\n";
constexpr char SERIAL_LINE[] = "Serial: %d\n";

/// The table's heading and each of its rows.
constexpr char TABLE_HEADING[] = "Register values:\n";
constexpr char TABLE_ROW[] = "\taddress = %d, data = %d.\n";

/// The line before the offset search's messages and the table after them.
constexpr char OFFSET_SEARCH_LINE[] = "Looking for sequence distance offsets...\n";
/// How a capture that could not read a value ends, instead of its table.
constexpr char CAPTURE_INCOMPLETE[] =
    "The calibration could not be read completely: the camera was not changed. Reconnect it and "
    "run q713-update again.\nHit <return> to quit.\n";

#endif
