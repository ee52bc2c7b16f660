// The progress ring and its writer thread, so that the console cannot hold
// the load: beside the window that refuses a log-off (os/os_windows.cpp),
// the only thread the tool starts itself.
#include "camera/progress.h"

#include "console/console.h"
#include "os/os.h"

namespace {

// Shared between the library's callback and the writer, under the one lock
// of os/os.h; the load's reports in order.
ProgressRing pending;
// No report handed over after this: the writer ends once the ring is empty.
bool closing = false;
// The writer runs; only the thread that loads changes it, around the load.
bool writerRunning = false;

void writeReports() {
    lockShared();
    for (;;) {
        ProgressReport report{};
        if (popReport(&pending, &report)) {
            wakeShared();  // a callback waiting for room
            // Printed outside the lock: a stalled console holds only this thread.
            unlockShared();
            printReport(report);
            lockShared();
        } else if (closing) {
            break;
        } else {
            waitShared();
        }
    }
    unlockShared();
}

}  // namespace

bool pushReport(ProgressRing* ring, ProgressReport report) {
    if (ring->count == PROGRESS_RING_SIZE) {
        return false;
    }
    ring->reports[(ring->first + ring->count) % PROGRESS_RING_SIZE] = report;
    ++ring->count;
    return true;
}

bool popReport(ProgressRing* ring, ProgressReport* report) {
    if (ring->count == 0) {
        return false;
    }
    *report = ring->reports[ring->first];
    ring->first = (ring->first + 1) % PROGRESS_RING_SIZE;
    --ring->count;
    return true;
}

void printReport(ProgressReport report) {
    say("status %d, percentage %d\n", report.status, report.percentage);
}

void startProgressWriter() {
    pending = ProgressRing{};
    closing = false;
    writerRunning = startWorker(writeReports);
}

void reportProgress(ProgressReport report) {
    if (!writerRunning) {
        printReport(report);
        return;
    }
    lockShared();
    while (!pushReport(&pending, report)) {
        waitShared();  // the writer makes room; a line is never dropped
    }
    wakeShared();
    unlockShared();
}

void stopProgressWriter() {
    if (!writerRunning) {
        return;
    }
    lockShared();
    closing = true;
    wakeShared();
    unlockShared();
    joinWorker();
    writerRunning = false;
}
