// Loading firmware: the lines around the library's progress reports.
#include "camera/firmware.h"

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
