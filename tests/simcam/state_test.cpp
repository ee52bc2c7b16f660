// Cameras that outlive the process (KVX_SIM_STATE), the power cycle between
// two processes, and the faults that kill the process. simReset() stands for
// the end of one process and the start of the next.
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "simcam/state_file.h"
#include "simcam_test_support.h"

namespace {

constexpr uint32_t kMagic = 0x4B525137;

class KeptState : public SimcamTest {
protected:
    void SetUp() override {
        SimcamTest::SetUp();
        setenv("KVX_SIM_STATE", "state.txt", 1);
        unsetenv("KVX_SIM_POWER_CYCLE");
        writeImages();
    }

    void TearDown() override {
        unsetenv("KVX_SIM_STATE");
        unsetenv("KVX_SIM_POWER_CYCLE");
        SimcamTest::TearDown();
    }

    void nextProcess(bool powerCycle) {
        simReset();
        if (powerCycle) {
            setenv("KVX_SIM_POWER_CYCLE", "1", 1);
        } else {
            unsetenv("KVX_SIM_POWER_CYCLE");
        }
    }

    SimCameraView view(uint32_t index) {
        SimCameraView camera{};
        EXPECT_TRUE(simCameraView(index, &camera));
        return camera;
    }
};

TEST_F(KeptState, TheNextProcessMeetsTheCamerasAsTheLastOneLeftThem) {
    useProfile("[camera]\nserial = 1\n[camera]\nserial = 2\n");
    KvxHandle camera = open();
    ASSERT_EQ(write(camera, 600, 7), 0);
    ASSERT_EQ(load(camera, kImage231), 0);
    nextProcess(false);  // ended with the link open: nobody rebooted the camera
    camera = open();
    EXPECT_EQ(read(camera, 1) & 0xFFFFF, 1u) << "the same camera";
    EXPECT_EQ(read(camera, 56), 0x1000u) << "still 2.0.0";
    EXPECT_EQ(read(camera, 600), 7u);
    EXPECT_TRUE(view(0).hasPending);
    ASSERT_EQ(close(camera), 0);
    camera = open();
    EXPECT_EQ(read(camera, 56), 0x10C1u) << "closed and opened again: rebooted";
    ASSERT_EQ(close(camera), 0);
    camera = open();
    EXPECT_EQ(read(camera, 1) & 0xFFFFF, 2u);
    nextProcess(false);
    camera = open();
    EXPECT_EQ(read(camera, 1) & 0xFFFFF, 2u) << "the camera plugged in stays plugged in";
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) {
        EXPECT_NE(entry.path().extension(), ".tmp") << "left behind: " << entry.path();
    }
}

TEST_F(KeptState, APowerCycleRunsThePendingImageOrReloadsTheFlash) {
    KvxHandle camera = open();
    ASSERT_EQ(load(camera, kImage231), 0);
    nextProcess(true);
    camera = open();
    EXPECT_EQ(read(camera, 56), 0x10C1u);
    EXPECT_EQ(read(camera, 26), 0u);
    ASSERT_EQ(write(camera, 26, 5), 0);
    ASSERT_EQ(write(camera, 21, kMagic), 0);
    ASSERT_EQ(write(camera, 20, 1), 0);
    ASSERT_EQ(write(camera, 27, 9), 0);
    ASSERT_EQ(write(camera, 21, kMagic), 0);
    nextProcess(true);
    camera = open();
    EXPECT_EQ(read(camera, 26), 5u) << "stored in flash";
    EXPECT_EQ(read(camera, 27), 0u) << "never stored";
    EXPECT_NE(write(camera, 20, 1), 0) << "the magic does not survive the power cycle";
}

TEST_F(KeptState, AStateFileThatDoesNotFitTheProfileIsRefused) {
    writeText(folder_ / "state.txt", "plugged-in 1\ncamera 2\npending none\n");
    KvxHandle camera = nullptr;
    EXPECT_EQ(tryOpen(&camera), -100) << "the built-in profile has one camera";
    nextProcess(false);
    writeText(folder_ / "state.txt",
              "plugged-in 1\ncamera 1\nregister 26 0x5\nregister 1024 0x1\n");
    EXPECT_EQ(tryOpen(&camera), -100);
}

// Read as it stands, the rest would start as a camera on firmware 0.0.0.
TEST_F(KeptState, AStateFileCutShortAnywhereIsRefused) {
    KvxHandle camera = open();
    ASSERT_EQ(load(camera, kImage231), 0);
    nextProcess(false);
    std::string whole = readText(folder_ / "state.txt");
    ASSERT_EQ(whole.substr(whole.size() - 5), "\nend\n");
    // Every cut but that of the last newline.
    for (size_t length = 0; length + 1 < whole.size(); ++length) {
        writeText(folder_ / "state.txt", whole.substr(0, length));
        KvxHandle cut = nullptr;
        testing::internal::CaptureStderr();
        EXPECT_EQ(tryOpen(&cut), -100) << "cut after " << length << " bytes";
        EXPECT_NE(testing::internal::GetCapturedStderr().find("state rejected"), std::string::npos);
        nextProcess(false);
    }
    writeText(folder_ / "state.txt", whole);
    EXPECT_EQ(read(open(), 56), 0x1000u) << "the whole file: still 2.0.0, 2.3.1 pending";
}

TEST_F(KeptState, ACameraSectionWithoutItsLinesIsRefusedAtItsStart) {
    KeptCamera kept{};
    uint32_t current = 0;
    uint32_t line = 0;
    writeText(folder_ / "state.txt", "plugged-in 1\ncamera 1\narmed 0\nregister 56 0x1000\nend\n");
    EXPECT_STREQ(stateRead("state.txt", &kept, 1, &current, &line),
                 "camera section cut short: its pending, armed and flash lines expected");
    EXPECT_EQ(line, 2u);
}

// Each process writes its own camera over and over; the file must always be
// one of them whole, and every write must succeed.
TEST_F(KeptState, TwoProcessesSharingTheFileNeverMeetInItsTemporaryFile) {
    constexpr int kWrites = 300;
    KeptCamera mine{};
    mine.registers[1] = 1;
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        KeptCamera other{};
        other.registers[1] = 2;
        bool written = true;
        for (int i = 0; i < kWrites; ++i) {
            written = stateWrite("state.txt", &other, 1, 0) && written;
        }
        _exit(written ? 0 : 1);
    }
    int failures = 0;
    for (int i = 0; i < kWrites; ++i) {
        failures += stateWrite("state.txt", &mine, 1, 0) ? 0 : 1;
        KeptCamera read{};
        uint32_t current = 0;
        uint32_t line = 0;
        const char* problem = stateRead("state.txt", &read, 1, &current, &line);
        failures +=
            problem == nullptr && (read.registers[1] == 1 || read.registers[1] == 2) ? 0 : 1;
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the other process's writes";
    EXPECT_EQ(failures, 0);
}

using KeptStateDeathTest = KeptState;

TEST_F(KeptStateDeathTest, KilledBeforeACallTheCameraKeepsWhatCameBefore) {
    useProfile("[camera]\nkill-before-call = 4\n");
    useTrace();
    EXPECT_EXIT(
        {
            KvxHandle camera = open();  // calls 1 and 2
            write(camera, 600, 7);
            read(camera, 600);
        },
        testing::KilledBySignal(SIGKILL), "");
    EXPECT_EQ(traceLines().back(), "sim: killed before call 4") << "and no exit lines";
    nextProcess(false);
    unsetenv("KVX_SIM_TRACE");
    EXPECT_EQ(read(open(), 600), 7u);
}

TEST_F(KeptStateDeathTest, ALoadCutShortLeavesNothingPending) {
    useProfile("kill-in-load = 4 2\n");
    useTrace();
    EXPECT_EXIT(
        {
            KvxHandle camera = open();
            load(camera, kImage231);  // call 3, pending
            load(camera, kImage231);
        },
        testing::KilledBySignal(SIGKILL), "");
    EXPECT_EQ(traceLines().back(), "sim: killed in call 4 after progress report 2");
    nextProcess(true);
    EXPECT_EQ(read(open(), 56), 0x1000u) << "still 2.0.0 after a power cycle";
}

}  // namespace
