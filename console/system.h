// The one background thread the tools run (the progress writer) and the one
// lock and condition it shares with the thread that loads, from the
// platform's own calls; and the folders q713-restore looks for firmware in.
#ifndef CONSOLE_SYSTEM_H
#define CONSOLE_SYSTEM_H

/// Starts the background thread running work; false when it cannot be started.
bool startWorker(void (*work)());

/// Waits until the background thread has ended.
void joinWorker();

/// Takes the shared lock.
void lockShared();

/// Gives the shared lock back.
void unlockShared();

/// Gives the shared lock back until wakeShared, then takes it again; it may
/// also return without a wake, so callers check what they wait for.
void waitShared();

/// Wakes every thread waiting in waitShared.
void wakeShared();

/// True when path names a regular file, the path in the code page the camera
/// library takes file names in (on Windows the ANSI code page).
bool regularFileExists(const char* path);

/// The folder of the running exe, with its separator after it, in the code
/// page the camera library takes file names in; false when it cannot be said
/// there or does not fit into outSize bytes.
bool exeFolderForLibrary(char* out, int outSize);

/// The exe's folder as the console shows it; empty when unknown.
void exeFolderShown(char* out, int outSize);

/// The working folder as the console shows it; empty when unknown.
void workingFolderShown(char* out, int outSize);

/// True when the exe's folder is the working folder, or either is unknown.
bool exeFolderIsWorkingFolder();

#endif
