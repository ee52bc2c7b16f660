// The one door to the operating system: every call the tools make to it,
// declared once here and made in os/os_posix.cpp or os/os_windows.cpp (with
// os/user32_windows.cpp, for the calls that need user32). What
// the tools decide about these calls lives outside, in plain functions that
// the unit tests reach through a logging fake of this header (tests/fake/).
//
// The tools' own sources keep only the platform blocks that a type forces:
// restore/main.cpp's wmain (Windows passes the file's name in UTF-16) and
// the maker's export and calling-convention macros in camera/KvxQ713.h. The
// DLL's loading and the diagnosis of its failure are Windows' alone and built
// only there: camera/library_windows.cpp, camera/load_failure_windows.cpp.
#ifndef OS_OS_H
#define OS_OS_H

#include <stdint.h>
#include <stdio.h>

// ---- Standard streams

/// Opens each closed standard descriptor (on Windows, each missing standard
/// handle) on the null device, so that no file opened later takes its place;
/// true when standard output was closed. Call first thing at start-up.
bool openClosedStandardStreams();

// ---- Interrupts and the console control handler

/// How an interrupt came: a key (Ctrl-C, Ctrl-Break; SIGINT, SIGQUIT) or the
/// end of the session around the tool (a closed window, log-off, shutdown;
/// SIGTERM, SIGHUP).
enum class InterruptKind { Key, SessionEnd };

/// What the handler does with an interrupt: ends the process at once as the
/// interrupt would, only remembers it, or also ends the console read waiting
/// for a line so that the run stops through its prompts.
enum class InterruptAction { EndNow, Hold, EndRead };

/// Makes decide answer every interrupt from now on, and a write to a reader
/// that went away fail instead of ending the tool; held tells whether a held
/// step is under way, for the session's end that Windows lets wait for it.
void installInterruptHandler(InterruptAction (*decide)(InterruptKind), bool (*held)());

/// Blocks (true) or unblocks interrupts on the calling thread, so that no
/// system call inside the camera library is cut short; nothing on Windows.
void blockInterrupts(bool blocked);

// ---- Typed-ahead input and the console's keys

/// Discards the keys typed before now when standard input is a terminal or
/// console; input from a pipe or a file is left alone.
void discardTypedAhead();

/// How readConsoleLine ended.
enum class ConsoleRead { Line, Interrupt, NoConsole, Ended };

/// Reads the keys typed into the console up to Return, with processed input
/// off so that Ctrl-C arrives as a key and cannot end the read: Line, the
/// characters (in the console's input code page) and a newline in line, of
/// lineSize bytes, their count in *length, echoed as the console echoes a
/// line; Interrupt at Ctrl-C or Ctrl-Break, or once wakeConsoleRead was
/// called; NoConsole when standard input is no console (always on POSIX);
/// Ended when the console cannot be read.
ConsoleRead readConsoleLine(char* line, int lineSize, int* length);

/// Ends the readConsoleLine under way, or else the next one, with Interrupt;
/// for the interrupt handler.
void wakeConsoleRead();

// ---- The console's modes and window (none of it exists outside Windows)

/// The width and height, in character cells, of a console's screen buffer.
struct ScreenBuffer {
    int width;
    int height;
};

/// The mode bits of the console's input (CONIN$, also when standard input
/// is redirected); false when the tool has no console.
bool readInputMode(uint32_t* mode);

/// Sets the mode bits of the console's input (CONIN$).
void writeInputMode(uint32_t mode);

/// Greys out (false) or gives back (true) the Close of the console window's
/// menu; false when there is no console window.
bool enableWindowClose(bool enabled);

/// How many processes share the tool's console, the tool included; 0 without one.
int consoleProcessCount();

/// Standard output's screen buffer; false when standard output is no classic console.
bool readScreenBuffer(ScreenBuffer* buffer);

/// Resizes standard output's screen buffer.
void resizeScreenBuffer(ScreenBuffer buffer);

// ---- Log-off, restart and shutdown

/// With a reason, refuses the session's end (log-off, restart, shutdown),
/// Windows showing reason to the user; null lets it go on again. Nothing on
/// POSIX, where the session's end comes as a signal.
void refuseSessionEnd(const char* reason);

// ---- Power

/// Asks the system to stay awake (true), or lets it sleep again (false).
void keepSystemAwake(bool awake);

// ---- Text the system passes: file names, the exe's path, its messages

#ifdef _WIN32
/// A character of a file name as Windows passes it: UTF-16, so that a name
/// may hold any character.
using PathText = wchar_t;
/// What stands between a folder and a name in it.
constexpr PathText PATH_SEPARATOR = L'\\';
#else
/// A character of a file name as the system passes it.
using PathText = char;
/// What stands between a folder and a name in it.
constexpr PathText PATH_SEPARATOR = '/';
#endif

/// The longest path Windows knows, in UTF-16 units.
constexpr int PATH_UNITS = 32768;

/// Copies the first units characters of text (all of it for -1) into out, of
/// outSize bytes, as the console shows them (on Windows in its code page);
/// cut at the end of out, and empty where it could not be converted.
void shownText(const PathText* text, int units, char* out, int outSize);

/// The exe's own folder, without a separator at its end, in folder (of units
/// characters) and its length in *length; 0, or the system's error number
/// when it cannot be had or does not fit.
uint32_t exeFolder(PathText* folder, int units, int* length);

/// The working folder, as exeFolder gives the exe's.
uint32_t workingFolder(PathText* folder, int units, int* length);

/// True when the two folders, as exeFolder gives them, are one (on Windows
/// whatever the case of their letters).
bool sameFolder(const PathText* one, const PathText* other);

/// Copies path into out, of outSize bytes, as the camera library takes a file
/// name (on Windows in the ANSI code page); false when a character cannot be
/// said there or it does not fit.
bool libraryFileName(const PathText* path, char* out, int outSize);

// ---- The progress writer's thread (camera/progress.h)

/// Starts the one background thread, running work; false when it cannot start.
bool startWorker(void (*work)());

/// Waits until the background thread has ended.
void joinWorker();

/// Takes the lock the background thread shares with the others.
void lockShared();

/// Gives the shared lock back.
void unlockShared();

/// Gives the shared lock back until wakeShared, then takes it again; it may
/// also return without a wake, so callers check what they wait for.
void waitShared();

/// Wakes every thread waiting in waitShared.
void wakeShared();

// ---- Functions of a library loaded by hand

/// Any function's address as GetProcAddress gives it, to be cast to its own
/// type at the call (GCC lets void (*)() stand for any function pointer
/// without a warning).
using AnyFunction = void (*)();

// ---- File facts, for the transcript q713-restore reads

/// What the tools need to know of a file.
struct FileFacts {
    bool regular;
    bool folder;
    bool pipe;
    bool device;
    long long size;
    long long modifiedSeconds;
    long modifiedNanoseconds;
};

/// The facts of the file at path without opening it; false, errno set, when
/// there is none.
bool factsOfPath(const PathText* path, FileFacts* facts);

/// Opens the file at path for reading bytes; null, errno set, when it cannot.
FILE* openForReading(const PathText* path);

/// The facts of an open file; false when the system cannot tell them.
bool factsOfFile(FILE* file, FileFacts* facts);

#endif
