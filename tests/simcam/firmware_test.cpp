// Firmware loads through KVXfirmwareUpdate: the status for each kind of file,
// which running firmware takes which image, and the reboot into it.
#include <sys/stat.h>

#include <chrono>
#include <set>
#include <string>
#include <vector>

#include "simcam_test_support.h"

namespace {

std::vector<int> gProgress;

int32_t recordProgress(int32_t status, uint8_t percentage) {
    gProgress.push_back(status == 0 ? percentage : -1);
    return 1;  // asks to stop; the transfer goes on regardless
}

using FirmwareLoad = SimcamTest;

TEST_F(FirmwareLoad, EachKindOfBadFileHasItsOwnStatus) {
    writeImages();
    std::string good = readText(kImage231File);
    writeText("corrupt.bin", good.substr(0, 100) + char(good[100] ^ 1) + good.substr(101));
    writeText("truncated.bin", good.substr(0, good.size() - 1));
    writeText("empty.bin", "");
    ASSERT_EQ(mkfifo("fifo.bin", 0600), 0);
    KvxHandle camera = open();
    EXPECT_EQ(load(camera, "missing.bin"), -1);
    int32_t corrupt = load(camera, "corrupt.bin");
    EXPECT_EQ(load(camera, "truncated.bin"), corrupt);
    EXPECT_EQ(load(camera, "empty.bin"), corrupt);
    EXPECT_EQ(load(camera, "fifo.bin"), corrupt) << "refused, not waited on";
    int32_t refused = load(camera, kImagePatch);
    int32_t closed = load(nullptr, kImage231);
    EXPECT_EQ((std::set<int32_t>{0, -1, corrupt, refused, closed}.size()), 5u)
        << corrupt << " " << refused << " " << closed;
}

TEST_F(FirmwareLoad, AnAcceptedImageReportsProgress20To100) {
    writeImages();
    KvxHandle camera = open();
    gProgress.clear();
    ASSERT_EQ(
        KVXfirmwareUpdate(camera, reinterpret_cast<const uint8_t*>(kImage231), recordProgress), 0);
    EXPECT_EQ(gProgress, (std::vector<int>{20, 40, 60, 80, 100}));
    gProgress.clear();
    EXPECT_NE(
        KVXfirmwareUpdate(camera, reinterpret_cast<const uint8_t*>(kImagePatch), recordProgress),
        0);
    EXPECT_TRUE(gProgress.empty()) << "a refused image is not transferred";
}

TEST_F(FirmwareLoad, LoadMsSpreadsTheLoadOverItsProgressReports) {
    useProfile("[camera]\nload-ms = 300\n");
    writeImages();
    KvxHandle camera = open();
    gProgress.clear();
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(
        KVXfirmwareUpdate(camera, reinterpret_cast<const uint8_t*>(kImage231), recordProgress), 0);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(300));
    EXPECT_LT(took, std::chrono::milliseconds(5000));
    EXPECT_EQ(gProgress, (std::vector<int>{20, 40, 60, 80, 100}));
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(load(camera, kImagePatch), -21);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300))
        << "a refused image is not transferred, so it takes no load time";
}

struct Acceptance {
    const char* name;
    const char* running;  // profile lines
    bool takes231;
    bool takesPatch;
};

class FirmwareAcceptance : public SimcamTest, public ::testing::WithParamInterface<Acceptance> {};

TEST_P(FirmwareAcceptance, FollowsTheUpgradePaths) {
    useProfile(std::string("[camera]\n") + GetParam().running);
    writeImages();
    KvxHandle camera = open();
    EXPECT_EQ(load(camera, kImage231) == 0, GetParam().takes231);
    EXPECT_EQ(load(camera, kImagePatch) == 0, GetParam().takesPatch);
}

INSTANTIATE_TEST_SUITE_P(
    FirmwareLoad, FirmwareAcceptance,
    ::testing::Values(
        Acceptance{"On200", "firmware = 2.0.0\nrelease = 14.11.2013\n", true, false},
        Acceptance{"On200Of20130226", "firmware = 2.0.0\nrelease = 26.02.2013\n", true, true},
        Acceptance{"OnThe20130226Release", "firmware = 1.4.2\nrelease = 26.02.2013\n", false, true},
        Acceptance{"OnThePatch", "firmware = 0.0.0\nrelease = 27.08.2014\n", true, false},
        Acceptance{"OnALater000", "firmware = 0.0.0\nrelease = 28.08.2014\n", false, false},
        Acceptance{"On201", "firmware = 2.0.1\nrelease = 14.11.2013\n", false, false},
        Acceptance{"On200WithHighBitsSet", "register 56 = 0xABCD1000\nrelease = 14.11.2013\n", true,
                   false},
        Acceptance{"OnHighBitsAndThe20130226Release",
                   "register 56 = 0x80001000\nrelease = 26.02.2013\n", true, true},
        Acceptance{"On231", "firmware = 2.3.1\nrelease = 28.10.2015\n", false, false}),
    [](const ::testing::TestParamInfo<Acceptance>& test) { return std::string(test.param.name); });

using Reboot = SimcamTest;

TEST_F(Reboot, ALoadedImageRunsOnlyAfterCloseAndOpen) {
    writeImages();
    KvxHandle camera = open();
    uint32_t identity = read(camera, 1);
    uint32_t frequency = read(camera, 130);
    uint32_t offset = read(camera, 134);
    ASSERT_EQ(load(camera, kImage231), 0);
    EXPECT_EQ(read(camera, 56), 0x1000u) << "still 2.0.0 until it restarts";
    EXPECT_NE(read(camera, 26), 0u);
    ASSERT_EQ(close(camera), 0);
    camera = open();
    EXPECT_EQ(read(camera, 56), 0x10C1u);
    EXPECT_EQ(read(camera, 2), 0x28102015u);
    EXPECT_EQ(read(camera, 1), identity);
    EXPECT_EQ(read(camera, 130), frequency);
    EXPECT_EQ(read(camera, 134), offset);
}

TEST_F(Reboot, CalibrationAndFlashStartEmptyInTheNewFirmware) {
    writeImages();
    KvxHandle camera = update(open(), kImage231);
    for (uint32_t address : {26u, 29u, 32u, 120u, 126u}) {
        EXPECT_EQ(read(camera, address), 0u) << address;
    }
    ASSERT_EQ(write(camera, 26, 5), 0);
    ASSERT_EQ(write(camera, 21, 0x4B525137), 0);
    ASSERT_EQ(write(camera, 54, 0x01000000), 0);
    EXPECT_EQ(read(camera, 26), 0u) << "the flash was erased";
}

TEST_F(Reboot, ThePatchOpensTheWayTo231) {
    useProfile("[camera]\nfirmware = 1.4.2\nrelease = 26.02.2013\n");
    writeImages();
    KvxHandle camera = open();
    EXPECT_NE(load(camera, kImage231), 0);
    camera = update(camera, kImagePatch);
    EXPECT_EQ(read(camera, 2), 0x27082014u);
    camera = update(camera, kImage231);
    EXPECT_EQ(read(camera, 56), 0x10C1u);
}

TEST_F(Reboot, NeverRebootsKeepsTheOldFirmwareAndTheSameCamera) {
    useProfile("[camera]\nnever-reboots = 1\nserial = 1\n[camera]\nserial = 2\n");
    useTrace();
    writeImages();
    KvxHandle camera = update(open(), kImage231);
    EXPECT_EQ(read(camera, 1) & 0xFFFFF, 1u) << "the same camera, presented again";
    EXPECT_EQ(read(camera, 56), 0x1000u) << "still 2.0.0";
    EXPECT_NE(read(camera, 26), 0u) << "calibration untouched";
    ASSERT_EQ(close(camera), 0);
    camera = open();
    EXPECT_EQ(read(camera, 1) & 0xFFFFF, 1u) << "still pending, so no next camera";
    SimCameraView view;
    ASSERT_TRUE(simCameraView(0, &view));
    EXPECT_EQ(view.running.version, 0x1000u);
    EXPECT_TRUE(view.hasPending);
    EXPECT_EQ(view.pending.version, 0x10C1u);
    for (const std::string& line : traceLines()) {
        EXPECT_EQ(line.find("rebooted"), std::string::npos) << line;
    }
}

TEST_F(Reboot, RebootOpenFailsDelaysEachRestart) {
    useProfile("[camera]\nreboot-open-fails = 1 -4\n");
    writeImages();
    KvxHandle camera = open();
    ASSERT_EQ(close(camera), 0);
    camera = open();  // nothing pending: no restart, no failure
    ASSERT_EQ(load(camera, kImage231), 0);
    ASSERT_EQ(close(camera), 0);
    EXPECT_EQ(tryOpen(&camera), -4);
    camera = open();
    EXPECT_EQ(read(camera, 56), 0x10C1u);
}

}  // namespace
