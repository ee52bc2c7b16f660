// Loading firmware: the lines around the library's progress reports.
#include "camera/firmware.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "restore/firmware_place.h"
#include "tests/fake/fake_camera.h"
#include "tests/unit/dialogue.h"

namespace {

std::string load(int32_t status, int progressReports) {
    fake::reset();
    fake::setFirmwareResult(status, progressReports);
    testing::internal::CaptureStdout();
    EXPECT_EQ(loadFirmware(nullptr, FIRMWARE_FILE), status == 0);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(FirmwareLoading, ProgressLinesStandBetweenLoadingAndWritten) {
    EXPECT_EQ(load(0, 5),
              "Loading firmware \"20151028_Lumivor-Q713_v2.3.1.bin\" ...\n"
              "status 0, percentage 20\nstatus 0, percentage 40\nstatus 0, percentage 60\n"
              "status 0, percentage 80\nstatus 0, percentage 100\n"
              "Firmware written.\n");
    EXPECT_EQ(fake::calls(), std::vector<std::string>{"firmware 20151028_Lumivor-Q713_v2.3.1.bin"});
}

TEST(FirmwareLoading, MissingFileLeavesTheParenthesisOpeningTheNextLine) {
    EXPECT_EQ(load(-1, 0),
              "Loading firmware \"20151028_Lumivor-Q713_v2.3.1.bin\" ...\n"
              "ERROR -1\n(File not found.\n)");
}

TEST(FirmwareLoading, OtherFailuresPrintOnlyTheStatus) {
    EXPECT_EQ(load(-21, 0),
              "Loading firmware \"20151028_Lumivor-Q713_v2.3.1.bin\" ...\nERROR -21\n");
}

TEST(FirmwareLoading, PercentageReadsAsUnsigned) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(printProgress(-2, 255), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "status -2, percentage 255\n");
}

TEST(FirmwareLoading, MissingFileNamesTheFoldersItWasLookedForIn) {
    fake::reset();
    fake::setFirmwareResult(-1, 0);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loadFirmware(nullptr, FIRMWARE_FILE, "C:\\Users\\tech or in C:\\q713"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Loading firmware \"20151028_Lumivor-Q713_v2.3.1.bin\" ...\n"
              "ERROR -1\n(File not found in C:\\Users\\tech or in C:\\q713.\n)");
}

TEST(FirmwarePlace, TheWorkingFolderFirstThenTheExesFolder) {
    struct Case {
        bool inWorking;
        bool inExe;
        bool oneFolder;
        const char* exeShown;
        const char* path;
        const char* lookedIn;
    };
    const std::string exePath = std::string("C:\\q713\\") + FIRMWARE_FILE;
    for (Case c : {
             // In the working folder the library finds it as the update tool has it.
             Case{true, true, false, "C:\\q713", FIRMWARE_FILE, "C:\\Users\\tech"},
             // Dropped onto the exe: only the exe's folder holds it.
             Case{false, true, false, "C:\\q713", exePath.c_str(), "C:\\q713"},
             // In neither: the bare name, and both folders named.
             Case{false, false, false, "C:\\q713", FIRMWARE_FILE, "C:\\Users\\tech or in C:\\q713"},
             // Started in its own folder, or with the exe's folder unknown: one.
             Case{false, false, true, "C:\\q713", FIRMWARE_FILE, "C:\\Users\\tech"},
             Case{false, false, false, "", FIRMWARE_FILE, "C:\\Users\\tech"},
         }) {
        FirmwareFacts facts{c.inWorking,  c.inExe,           c.oneFolder,
                            "C:\\q713\\", "C:\\Users\\tech", c.exeShown};
        FirmwarePlace place;
        placeFirmware(FIRMWARE_FILE, facts, &place);
        EXPECT_STREQ(place.path, c.path) << c.inWorking << c.inExe << c.oneFolder;
        EXPECT_STREQ(place.lookedIn, c.lookedIn) << c.inWorking << c.inExe << c.oneFolder;
    }
}

TEST(FirmwarePlace, AnExeFolderTooLongForThePathLeavesTheBareName) {
    std::string folder(PLACE_BYTES - 10, 'x');
    FirmwareFacts facts{false, true, false, folder.c_str(), "W", "E"};
    FirmwarePlace place;
    placeFirmware(FIRMWARE_FILE, facts, &place);
    EXPECT_STREQ(place.path, FIRMWARE_FILE);
    EXPECT_STREQ(place.lookedIn, "W or in E");
}

TEST(FirmwarePlace, FoundThroughTheSystemsFolders) {
    // The fake's exe lives in /fake/bin, where nothing is: the working folder decides.
    std::string folder = testing::TempDir() + "q713_firmware_place";
    mkdir(folder.c_str(), 0700);
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    ASSERT_EQ(chdir(folder.c_str()), 0);
    char here[4096];
    ASSERT_NE(getcwd(here, sizeof here), nullptr);
    FirmwarePlace place;
    std::remove(FIRMWARE_FILE);
    findFirmware(FIRMWARE_FILE, &place);
    EXPECT_STREQ(place.path, FIRMWARE_FILE);
    EXPECT_EQ(place.lookedIn, std::string(here) + " or in /fake/bin");
    std::fclose(std::fopen(FIRMWARE_FILE, "wb"));
    findFirmware(FIRMWARE_FILE, &place);
    EXPECT_STREQ(place.path, FIRMWARE_FILE);
    EXPECT_STREQ(place.lookedIn, here);
    std::remove(FIRMWARE_FILE);
    ASSERT_EQ(chdir(before), 0);
}
