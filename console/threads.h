// The one background thread the tools run (the progress writer) and the one
// lock and condition it shares with the thread that loads, from the
// platform's own calls.
#ifndef CONSOLE_THREADS_H
#define CONSOLE_THREADS_H

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

#endif
