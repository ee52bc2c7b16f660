// Ctrl-C while the camera is being changed: the change finishes, then the run
// stops; the interrupt reaches the tool's own handler as the system hands it on.
#include <algorithm>
#include <cstdio>
#include <string>

#include "calibration/registers.h"
#include "calibration/writeback.h"
#include "camera/firmware.h"
#include "console/console.h"
#include "console/interrupt.h"
#include "restore/recovery.h"
#include "tests/fake/fake_camera.h"
#include "tests/fake/fake_os.h"
#include "tests/unit/dialogue.h"
#include "workflow/updateplan.h"

namespace {

constexpr char STOPPED[] = "Stopped at the user's request.\n";

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

constexpr char HALF_UPDATED[] =
    "q713-update: the camera was left half updated: run q713-restore with the saved console "
    "text.\n";

// A console text holding a table for the fake camera 410-3105-1, serial 1001: data = address +
// 1000.
std::string savedTable(const char* name) {
    std::string path = testing::TempDir() + name;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    std::fputs("PON: 410-3105-1\nSerial: 1001\nRegister values:\n", file);
    for (int address : {26, 27, 28, 29, 30, 31, 32, 120, 121, 122, 123, 124, 125, 126}) {
        std::fprintf(file, "\taddress = %d, data = %d.\n", address, address + 1000);
    }
    std::fclose(file);
    return path;
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
    return runUpdatePlan(&handle, old, &config);
}

class Interrupt : public testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        startConsole();
    }
    void TearDown() override {
        fake::resetOs(0, {80, 300});
    }
};

// The console after a run: as the tool found it.
void expectConsoleGivenBack() {
    EXPECT_EQ(fake::os().inputMode, fake::DEFAULT_INPUT_MODE);
    EXPECT_TRUE(fake::os().closeEnabled);
    EXPECT_FALSE(fake::os().systemKeptAwake);
}

}  // namespace

TEST_F(Interrupt, DuringTheCalibrationWritesAllThreeStepsFinishFirst) {
    for (InterruptKind kind : {InterruptKind::Key, InterruptKind::SessionEnd}) {
        fake::reset();
        startConsole();
        fake::interruptAt(3, kind);
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
    fake::interruptAt(0, InterruptKind::Key);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(runPathA(), UpdateOutcome::Ended);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), HALF_UPDATED);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(endsWith(output, std::string("Firmware written.\n") + STOPPED)) << output;
    EXPECT_EQ(fake::calls().back(), "firmware 20151028_Lumivor-Q713_v2.3.1.bin");

    // The patch's load of a 26.02.2013 camera: half updated as well.
    fake::reset();
    startConsole();
    fake::interruptAt(0, InterruptKind::Key);
    VersionInfo patchFirst{0x2013, 0x02, 0x26, 2, 4, 1, 1001, 1};
    KvxConfig config{};
    KvxHandle handle = nullptr;
    KVXopen(&config, &handle);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(runUpdatePlan(&handle, patchFirst, &config), UpdateOutcome::Ended);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), HALF_UPDATED);
    output = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(endsWith(output, std::string("Firmware written.\n") + STOPPED)) << output;
    EXPECT_EQ(fake::calls().back(), "firmware 20140827_Lumivor-Q713_v0.0.0_patch.bin");
}

// The restore's own load of 2.3.1 into a camera left on the patch: after the
// stop, what the camera was left with and what to do.
TEST_F(Interrupt, DuringTheRestoresLoadTheStopSaysNoValuesWereWritten) {
    std::string path = savedTable("q713_restore_stopped_at_its_load.txt");
    fake::setRegister(1, (1 << 20) | 1001);
    fake::setRegister(2, 0x27082014);
    fake::setRegister(56, 0);
    fake::interruptAt(0, InterruptKind::Key);
    feedInput("y\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(runRestore(path.c_str()), -1);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(endsWith(output, std::string("Firmware written.\n") + STOPPED + SEPARATOR +
                                     "Firmware 2.3.1 was loaded into this camera, but no values "
                                     "were written: run q713-restore again with the same file.\n"))
        << output;
    EXPECT_EQ(fake::writeCount(), 0);
}

TEST_F(Interrupt, DuringARestoreTheWritesFinishFirst) {
    std::string path = savedTable("q713_interrupted_restore.txt");
    fake::setRegister(1, (1 << 20) | 1001);
    fake::setRegister(2, 0x28102015);
    fake::setRegister(56, (2 << 11) | (3 << 6) | 1);
    fake::interruptAt(5, InterruptKind::Key);
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
    fake::resetOs(2, {80, 300});
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
    EXPECT_EQ(fake::os().inputModesWritten, modes);
    expectConsoleGivenBack();

    fake::reset();
    fake::resetOs(2, {80, 300});
    startConsole();
    fake::interruptAt(3, InterruptKind::Key);
    feedInput("\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(runPathA(), UpdateOutcome::Ended);
    testing::internal::GetCapturedStdout();
    expectConsoleGivenBack();
}

TEST_F(Interrupt, WithoutAConsoleNothingOfItIsTouched) {
    fake::resetOs(0, {80, 300});
    feedInput("\n");
    testing::internal::CaptureStdout();
    EXPECT_EQ(runPathA(), UpdateOutcome::Completed);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(fake::os().changes, 0);
    EXPECT_FALSE(fake::os().systemKeptAwake);
}

TEST_F(Interrupt, OnceAStopIsWaitingNoPromptIsAnsweredAndNoChangeBegins) {
    // Interrupted in the load: the run is to stop, and the next steps see it.
    fake::interruptAt(0, InterruptKind::Key);
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
    fake::resetOs(1, {80, 300});
    feedInput("\n");
    EXPECT_EQ(closeConsole(0, true), -1);
    std::string output = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(endsWith(output, std::string("Firmware written.\n") + STOPPED +
                                     "\nHit <return> to close this window.\n"))
        << output;
    EXPECT_EQ(fake::calls().back(), "firmware 20151028_Lumivor-Q713_v2.3.1.bin");
}

TEST(InterruptDecision, HoldsInAHeldStepEndsTheReadInAWindowOfItsOwnAndElseEndsNow) {
    struct Case {
        uint32_t observed;
        InterruptKind kind;
        bool ownWindow;
        InterruptAction action;
    };
    constexpr InterruptKind KEY = InterruptKind::Key;
    constexpr InterruptKind END = InterruptKind::SessionEnd;
    constexpr InterruptAction NOW = InterruptAction::EndNow;
    constexpr InterruptAction HOLD = InterruptAction::Hold;
    constexpr InterruptAction READ = InterruptAction::EndRead;
    for (uint32_t stop : {0u, STOP_REQUESTED}) {
        for (Case c : {Case{0, KEY, false, NOW}, Case{0, KEY, true, READ}, Case{0, END, false, NOW},
                       Case{0, END, true, NOW}, Case{HOLDING, KEY, false, HOLD},
                       Case{HOLDING, KEY, true, HOLD}, Case{HOLDING, END, false, HOLD},
                       Case{HOLDING, END, true, HOLD}}) {
            InterruptDecision decision = decideInterrupt(c.observed | stop, c.kind, c.ownWindow);
            EXPECT_EQ(decision.action, c.action) << c.observed << stop << c.ownWindow;
            // Whatever is done, the run is to stop and a held step goes on.
            EXPECT_EQ(decision.next, c.observed | STOP_REQUESTED);
        }
    }
    EXPECT_TRUE(decideHold(0).start);
    EXPECT_EQ(decideHold(0).next, HOLDING);
    EXPECT_FALSE(decideHold(STOP_REQUESTED).start);
}

namespace {

// One side of the race, taken one load or compare-exchange at a time, as
// startHolding (main) and takeInterrupt (handler) take them.
struct Side {
    bool loaded;
    bool done;
    uint32_t observed;
};

void mainStep(InterruptState* state, Side* side, bool* started) {
    if (!side->loaded) {
        side->observed = state->load();
        side->loaded = true;
        return;
    }
    HoldDecision decision = decideHold(side->observed);
    if (!decision.start || state->compare_exchange_strong(side->observed, decision.next)) {
        side->done = true;
        *started = decision.start;
    }
}

void handlerStep(InterruptState* state, Side* side, bool ownWindow, InterruptAction* action) {
    if (!side->loaded) {
        side->observed = state->load();
        side->loaded = true;
        return;
    }
    InterruptDecision decision = decideInterrupt(side->observed, InterruptKind::Key, ownWindow);
    if (state->compare_exchange_strong(side->observed, decision.next)) {
        side->done = true;
        *action = decision.action;
    }
}

}  // namespace

TEST(InterruptRace, EitherTheHeldStepStartsAndTheInterruptWaitsOrTheStepNeverStarts) {
    // Every order of the two sides' load and compare-exchange.
    for (const char* order : {"MMHH", "MHMH", "MHHM", "HMMH", "HMHM", "HHMM"}) {
        for (bool ownWindow : {false, true}) {
            InterruptState state{0};
            Side main{false, false, 0};
            Side handler{false, false, 0};
            bool started = false;
            InterruptAction action = InterruptAction::Hold;
            for (const char* step = order; !main.done || !handler.done; ++step) {
                // After the order, a side whose exchange failed goes on alone.
                bool mainTurn = *step != '\0' ? *step == 'M' && !main.done : !main.done;
                if (mainTurn) {
                    mainStep(&state, &main, &started);
                } else if (!handler.done) {
                    handlerStep(&state, &handler, ownWindow, &action);
                }
                if (*step == '\0') {
                    --step;
                }
            }
            // Exactly one wins: a started step holds the interrupt; otherwise
            // the handler ends the process (or the read), and nothing began.
            EXPECT_EQ(started, action == InterruptAction::Hold) << order << ownWindow;
            EXPECT_NE(state.load() & STOP_REQUESTED, 0u) << order;
            EXPECT_EQ((state.load() & HOLDING) != 0, started) << order;
        }
    }
}

TEST_F(Interrupt, AHeldStepStartsItsGuardBeforeTheChangeAndPutsItAllBackAfter) {
    fake::resetOs(2, {80, 300});
    startConsole();
    feedInput("\n");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(loadFirmware(nullptr, FIRMWARE_FILE));
    testing::internal::GetCapturedStdout();
    // The progress writer starts and has ended inside the held step.
    // Log-off and shutdown are refused for the step alone.
    std::vector<std::string> held{
        "keepSystemAwake 1",    "refuseSessionEnd 1",  "readInputMode",
        "writeInputMode 0x1b7", "enableWindowClose 0", "blockInterrupts 1",
        "startWorker",          "joinWorker",          "blockInterrupts 0",
        "writeInputMode 0x1f7", "enableWindowClose 1", "refuseSessionEnd 0",
        "keepSystemAwake 0"};
    EXPECT_EQ(fake::callsSinceLast("keepSystemAwake 1"), held);
}

TEST_F(Interrupt, QuickEditAndSleepArePutBackOnEveryWayOutOfAHeldStep) {
    struct WayOut {
        int32_t loadStatus;
        int interruptedWrite;  // -1: none
        bool writeFails;
    };
    for (WayOut way : {WayOut{0, -1, false}, WayOut{-1, -1, false}, WayOut{-7, -1, false},
                       WayOut{0, 0, false}, WayOut{0, 4, false}, WayOut{0, -1, true}}) {
        fake::reset();
        fake::resetOs(2, {80, 300});
        startConsole();
        fake::setFirmwareResult(way.loadStatus, 2);
        if (way.interruptedWrite >= 0) {
            fake::interruptAt(way.interruptedWrite, InterruptKind::Key);
        }
        if (way.writeFails) {
            fake::failWrite(20, -3);
        }
        feedInput("\n\n");
        testing::internal::CaptureStdout();
        runPathA();
        testing::internal::GetCapturedStdout();
        expectConsoleGivenBack();
        EXPECT_FALSE(fake::os().interruptsBlocked) << way.loadStatus << way.interruptedWrite;
        const std::vector<std::string>& calls = fake::os().calls;
        EXPECT_EQ(std::count(calls.begin(), calls.end(), "keepSystemAwake 1"),
                  std::count(calls.begin(), calls.end(), "keepSystemAwake 0"));
    }
}
