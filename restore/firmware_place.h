// Where q713-restore has the camera library look for a firmware file: in the
// working folder, as the update tool does, or else in the exe's own folder,
// where a file dropped onto q713-restore.exe leaves the working folder elsewhere.
#ifndef RESTORE_FIRMWARE_PLACE_H
#define RESTORE_FIRMWARE_PLACE_H

/// Bytes for a folder and a file name, as the library takes them or the console shows them.
constexpr int PLACE_BYTES = 1024;

/// What the file system says about one firmware file's folders.
struct FirmwareFacts {
    bool inWorkingFolder;
    bool inExeFolder;       // false also when the exe's folder cannot be named to the library
    bool oneFolder;         // the exe's folder is the working folder
    const char* exeFolder;  // as the library takes it, its separator after it
    const char* workingShown;
    const char* exeShown;
};

/// The name handed to the library, and the folders a "File not found" names.
struct FirmwarePlace {
    char path[PLACE_BYTES];
    char lookedIn[2 * PLACE_BYTES + 8];
};

/// Decides from facts where the library looks for fileName: the bare name
/// while the working folder holds it or neither folder does, the exe's folder
/// and the name when only that one does.
void placeFirmware(const char* fileName, const FirmwareFacts& facts, FirmwarePlace* place);

/// Gathers the facts about fileName's folders from the system and decides.
void findFirmware(const char* fileName, FirmwarePlace* place);

#endif
