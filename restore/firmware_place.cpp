// The firmware file's folder for q713-restore: decided from what the file
// system says, apart from asking it.
#include "restore/firmware_place.h"

#include <cstdio>

#include "os/os.h"

void placeFirmware(const char* fileName, const FirmwareFacts& facts, FirmwarePlace* place) {
    bool fromExeFolder = !facts.inWorkingFolder && facts.inExeFolder;
    if (!fromExeFolder || std::snprintf(place->path, sizeof place->path, "%s%s", facts.exeFolder,
                                        fileName) >= static_cast<int>(sizeof place->path)) {
        // As the update tool loads it; the library looks in the working folder.
        std::snprintf(place->path, sizeof place->path, "%s", fileName);
        fromExeFolder = false;
    }
    // Only the folder in which the library failed to find it, or both when
    // the exe's was looked at too.
    if (fromExeFolder) {
        std::snprintf(place->lookedIn, sizeof place->lookedIn, "%s", facts.exeShown);
    } else if (facts.inWorkingFolder || facts.oneFolder || facts.exeShown[0] == '\0') {
        std::snprintf(place->lookedIn, sizeof place->lookedIn, "%s", facts.workingShown);
    } else {
        std::snprintf(place->lookedIn, sizeof place->lookedIn, "%s or in %s", facts.workingShown,
                      facts.exeShown);
    }
}

namespace {

// One path at a time each, too large for the stack.
PathText exeText[PATH_UNITS];
PathText workingText[PATH_UNITS];
PathText candidate[PATH_UNITS];

// folder (empty: none), a separator when there is a folder, and name into
// candidate; false when it does not fit.
bool joinPath(const PathText* folder, int folderLength, const char* name) {
    int at = 0;
    for (; at < folderLength && at < PATH_UNITS - 1; ++at) {
        candidate[at] = folder[at];
    }
    // A drive's or the system's root ends in its separator already.
    if (folderLength > 0 && folder[folderLength - 1] != PATH_SEPARATOR && at < PATH_UNITS - 1) {
        candidate[at++] = PATH_SEPARATOR;
    }
    // The firmware's names are ASCII: the same in every code page.
    for (; *name != '\0' && at < PATH_UNITS - 1; ++name) {
        candidate[at++] = static_cast<PathText>(*name);
    }
    candidate[at] = 0;
    return *name == '\0';
}

bool regularFile() {
    FileFacts facts{};
    return factsOfPath(candidate, &facts) && facts.regular;
}

}  // namespace

void findFirmware(const char* fileName, FirmwarePlace* place) {
    static char exeFolderName[PLACE_BYTES];
    static char workingShown[PLACE_BYTES];
    static char exeShown[PLACE_BYTES];
    int exeLength = 0;
    int workingLength = 0;
    bool exeKnown = exeFolder(exeText, PATH_UNITS, &exeLength) == 0;
    bool workingKnown = workingFolder(workingText, PATH_UNITS, &workingLength) == 0;
    FirmwareFacts facts{};
    facts.inWorkingFolder = joinPath(workingText, 0, fileName) && regularFile();
    facts.oneFolder = !exeKnown || !workingKnown || sameFolder(exeText, workingText);
    // The folder as the library takes it, its separator after it.
    facts.inExeFolder = !facts.oneFolder && joinPath(exeText, exeLength, fileName) &&
                        regularFile() && joinPath(exeText, exeLength, "") &&
                        libraryFileName(candidate, exeFolderName, sizeof exeFolderName);
    facts.exeFolder = facts.inExeFolder ? exeFolderName : "";
    workingShown[0] = '\0';
    exeShown[0] = '\0';
    if (workingKnown) {
        shownText(workingText, workingLength, workingShown, sizeof workingShown);
    }
    if (exeKnown) {
        shownText(exeText, exeLength, exeShown, sizeof exeShown);
    }
    facts.workingShown = workingShown;
    facts.exeShown = exeShown;
    placeFirmware(fileName, facts, place);
}
