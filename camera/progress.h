// The library's progress reports during a load, kept in a small ring and
// printed by a writer thread of their own: a console that stalls its output
// (a held scrollbar, Pause, a selection, a terminal stopped with Ctrl-S) then
// holds the writer, never the load inside the camera library.
#ifndef CAMERA_PROGRESS_H
#define CAMERA_PROGRESS_H

#include <cstdint>

/// One report of the library's progress callback.
struct ProgressReport {
    int32_t status;
    uint8_t percentage;
};

/// Reports a load may run ahead of a stalled console before its callback waits.
constexpr int PROGRESS_RING_SIZE = 64;

/// Reports not yet printed, oldest first from first.
struct ProgressRing {
    ProgressReport reports[PROGRESS_RING_SIZE];
    int first;
    int count;
};

/// Appends report after the others; false, changing nothing, when the ring is full.
bool pushReport(ProgressRing* ring, ProgressReport report);

/// Takes the oldest report into *report; false when the ring is empty.
bool popReport(ProgressRing* ring, ProgressReport* report);

/// Prints one report's line, as the console shows the load's progress.
void printReport(ProgressReport report);

/// Starts the writer thread before a load; without one (it could not be
/// started) each report is printed inside the callback as it comes.
void startProgressWriter();

/// Hands report to the writer, waiting while its ring is full so that no
/// line is lost; without a writer, prints it.
void reportProgress(ProgressReport report);

/// Waits until the writer has printed every report handed to it, and ends it.
void stopProgressWriter();

#endif
