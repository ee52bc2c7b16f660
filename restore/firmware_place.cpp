// The firmware file's folder for q713-restore: decided from what the file
// system says, apart from asking it.
#include "restore/firmware_place.h"

#include <cstdio>

#include "console/system.h"

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

void findFirmware(const char* fileName, FirmwarePlace* place) {
    static char exeFolder[PLACE_BYTES];
    static char workingShown[PLACE_BYTES];
    static char exeShown[PLACE_BYTES];
    static char inExe[PLACE_BYTES];
    FirmwareFacts facts{};
    facts.inWorkingFolder = regularFileExists(fileName);
    facts.oneFolder = exeFolderIsWorkingFolder();
    facts.exeFolder = exeFolderForLibrary(exeFolder, sizeof exeFolder) ? exeFolder : "";
    facts.inExeFolder = facts.exeFolder[0] != '\0' && !facts.oneFolder &&
                        std::snprintf(inExe, sizeof inExe, "%s%s", exeFolder, fileName) <
                            static_cast<int>(sizeof inExe) &&
                        regularFileExists(inExe);
    workingFolderShown(workingShown, sizeof workingShown);
    exeFolderShown(exeShown, sizeof exeShown);
    facts.workingShown = workingShown;
    facts.exeShown = exeShown;
    placeFirmware(fileName, facts, place);
}
