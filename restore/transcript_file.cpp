// Opening a transcript: only a regular file of a transcript's size, looked at
// before and after it is opened, and checked for changes at every reading.
#include "restore/transcript.h"

#include <cerrno>
#include <cstdio>

#include "os/os.h"

namespace {

// The name as the messages show it, for the whole run; static, as every large
// buffer here: at most three bytes for each UTF-16 unit in any code page.
const char* shownPath(const PathText* path) {
    static char shown[PATH_UNITS * 3];
    shownText(path, -1, shown, static_cast<int>(sizeof shown));
    return shown;
}

// Reports what was found of the file as a whole.
void tell(TranscriptReporter report, TranscriptFault found, const char* path) {
    report({found, path, 0, 0, 0, found == TranscriptFault::CannotOpen ? errno : 0});
}

// True when the file is one a transcript may be; otherwise reports what it is.
bool acceptable(const char* path, const FileFacts& facts, TranscriptReporter report) {
    if (facts.folder) {
        tell(report, TranscriptFault::Folder, path);
    } else if (facts.pipe) {
        tell(report, TranscriptFault::Pipe, path);
    } else if (facts.device) {
        tell(report, TranscriptFault::Device, path);
    } else if (!facts.regular) {
        tell(report, TranscriptFault::NotRegular, path);
    } else if (facts.size > TRANSCRIPT_MAX_BYTES) {
        tell(report, TranscriptFault::TooLarge, path);
    } else {
        return true;
    }
    return false;
}

}  // namespace

bool unchangedSinceOpened(const TranscriptFile& transcript) {
    FileFacts now{};
    return factsOfFile(transcript.file, &now) && now.size == transcript.size &&
           now.modifiedSeconds == transcript.modifiedSeconds &&
           now.modifiedNanoseconds == transcript.modifiedNanoseconds;
}

bool openTranscript(const PathText* path, TranscriptReporter report, TranscriptFile* transcript) {
    const char* shown = shownPath(path);
    // Looked at before opening: opening a pipe may wait for a writer forever.
    FileFacts facts{};
    if (!factsOfPath(path, &facts)) {
        tell(report, TranscriptFault::CannotOpen, shown);
        return false;
    }
    if (!acceptable(shown, facts, report)) {
        return false;
    }
    FILE* file = openForReading(path);
    if (file == nullptr) {
        tell(report, TranscriptFault::CannotOpen, shown);
        return false;
    }
    // What was opened counts, should the name have changed hands meanwhile.
    if (!factsOfFile(file, &facts) || !acceptable(shown, facts, report)) {
        std::fclose(file);
        return false;
    }
    *transcript = {shown, file, facts.size, facts.modifiedSeconds, facts.modifiedNanoseconds,
                   report};
    return true;
}

void closeTranscript(TranscriptFile* transcript) {
    std::fclose(transcript->file);
    transcript->file = nullptr;
}
