// Ctrl-C while the camera is being changed: the change finishes, then the run
// stops; the operating system's signal goes through the real handler.
#include <csignal>
#include <cstdio>
#include <string>

#include "calibration/registers.h"
#include "calibration/writeback.h"
#include "camera/firmware.h"
#include "console/console.h"
#include "restore/recovery.h"
#include "tests/fake/fake_camera.h"
#include "tests/fake/fake_console.h"
#include "tests/unit/dialogue.h"
#include "workflow/updateplan.h"

namespace {

constexpr char STOPPED[] = "Stopped at the user's request.\n";

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// A camera on 2.0.0 with one calibration value; identity reads give 2.3.1 once updated.
UpdateOutcome runPathA() {
    fake::setRegister(26, 5);
    fake::setRegister(2, 0x28102015);
    fake::setRegister(56, (2 << 11) | (3 << 6) | 1);
    VersionInfo old{0x2013, 0x11, 0x14, 0, 0, 2, 1001, 1};
    KvxConfig config{};
    KvxHandle handle = nullptr;
    KVXopen(&config, &handle);
    return runUpdatePlan(handle, old, &config);
}

class Interrupt : public testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        startConsole();
    }
    void TearDown() override {
        fake::resetConsole(0, {80, 300});
    }
};

// The console after a run: as the tool found it.
void expectConsoleGivenBack() {
    EXPECT_EQ(fake::console().inputMode, fake::DEFAULT_INPUT_MODE);
    EXPECT_TRUE(fake::console().closeEnabled);
    EXPECT_FALSE(fake::console().systemKeptAwake);
}

}  // namespace

TEST_F(Interrupt, DuringTheCalibrationWritesAllThreeStepsFinishFirst) {
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        fake::reset();
        startConsole();
        fake::interruptAt(3, signalNumber);
        feedInput("\n");
        testing::internal::CaptureStdout();
        EXPECT_EQ(runPathA(), UpdateOutcome::Ended);
        std::string output = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(endsWith(output, std::string("Register map successfully reset.\n") + STOPPED))
            << output;
        EXPECT_EQ(fake::writeCount(), 18);  // fourteen rows and two flash commands
    }
}

TEST_F(Interrupt, DuringALoadTheLoadFinishesAndTheCameraIsLeftAlone) {
    fake::interruptAt(0, SIGINT);
    testing::internal::CaptureStdout();
    EXPECT_EQ(runPathA(), UpdateOutcome::Ended);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(endsWith(output, std::string("Firmware written.\n") + STOPPED)) << output;
    EXPECT_EQ(fake::calls().back(), "firmware 20151028_Lumivor-Q713_v2.3.1.bin");
}

TEST_F(Interrupt, DuringARestoreTheWritesFinishFirst) {
    std::string path = testing::TempDir() + "q713_interrupted_restore.txt";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("PON: 410-3105-1\nSerial: 1001\nRegister values:\n", file);
    for (int address : {26, 27, 28, 29, 30, 31, 32, 120, 121, 122, 123, 124, 125, 126}) {
        std::fprintf(file, "\taddress = %d, data = %d.\n", address, address + 1000);
    }
    std::fclose(file);
    fake::setRegister(1, (1 << 20) | 1001);
    fake::setRegister(2, 0x28102015);
    fake::setRegister(56, (2 << 11) | (3 << 6) | 1);
    fake::interruptAt(5, SIGINT);
    feedInput("y\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(runRestore(path.c_str()), -1);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(endsWith(output, std::string("Register map successfully reset.\n") + STOPPED))
        << output;
    EXPECT_EQ(fake::writeCount(), 18);
    EXPECT_EQ(fake::registerValue(126), 1126u);
}

TEST_F(Interrupt, HeldStepsGuardTheConsoleAndGiveItBackOnEveryWayOut) {
    fake::resetConsole(2, {80, 300});
    feedInput("\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(runPathA(), UpdateOutcome::Completed);
    testing::internal::GetCapturedStdout();
    // The load and the eighteen writes of the write-back, and nothing else.
    std::vector<std::string> guarded = fake::callsWhileGuarded();
    ASSERT_EQ(guarded.size(), 19u);
    EXPECT_EQ(guarded[0], "firmware 20151028_Lumivor-Q713_v2.3.1.bin");
    EXPECT_EQ(guarded[1], "write 26 0x5");
    EXPECT_EQ(guarded[18], "write 54 0x1000000");
    // Quick-edit off with the extended flags that make it count, every other bit kept.
    std::vector<uint32_t> modes{0x1B7, 0x1F7, 0x1B7, 0x1F7};
    EXPECT_EQ(fake::console().inputModesWritten, modes);
    expectConsoleGivenBack();

    fake::reset();
    fake::resetConsole(2, {80, 300});
    startConsole();
    fake::interruptAt(3, SIGINT);
    feedInput("\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(runPathA(), UpdateOutcome::Ended);
    testing::internal::GetCapturedStdout();
    expectConsoleGivenBack();
}

TEST_F(Interrupt, WithoutAConsoleNothingOfItIsTouched) {
    fake::resetConsole(0, {80, 300});
    feedInput("\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(runPathA(), UpdateOutcome::Completed);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fake::console().changes, 0);
    EXPECT_FALSE(fake::console().systemKeptAwake);
}

TEST_F(Interrupt, OnceAStopIsWaitingNoPromptIsAnsweredAndNoChangeBegins) {
    // Interrupted in the load: the run is to stop, and the next steps see it.
    fake::interruptAt(0, SIGINT);
    testing::internal::CaptureStdout();
    EXPECT_EQ(runPathA(), UpdateOutcome::Ended);
    feedInput("r\n");
    EXPECT_EQ(readChoice(), 'q');
    EXPECT_EQ(pendingInput(), "r\n");
    EXPECT_FALSE(loadFirmware(nullptr, FIRMWARE_FILE));
    RegisterTable table;
    initProtectedRegisters(table);
    WriteBackSteps steps = writeBackCalibration(nullptr, table);
    EXPECT_FALSE(steps.written || steps.saved || steps.reset);
    // Told once, and the window of its own then waits for return.
    fake::resetConsole(1, {80, 300});
    feedInput("\n");
    EXPECT_EQ(closeConsole(0, true), -1);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(endsWith(output, std::string("Firmware written.\n") + STOPPED +
                                     "\nHit <return> to close this window.\n"))
        << output;
    EXPECT_EQ(fake::calls().back(), "firmware 20151028_Lumivor-Q713_v2.3.1.bin");
}
