// The simulated camera through the library calls: identity, registers, the
// armed flash commands, injected faults and the cameras plugged in one by one.
#include <stdint.h>

#include <algorithm>
#include <iterator>

#include "simcam_test_support.h"

namespace {

constexpr uint32_t kMagic = 0x4B525137;
constexpr uint32_t kStore = 1;
constexpr uint32_t kReload = 0x01000000;

using Identity = SimcamTest;

TEST_F(Identity, BuiltInCameraRuns200WithCalibrationAndKnownFrequencies) {
    KvxHandle camera = open();
    EXPECT_EQ(read(camera, 56), 2u << 11);
    EXPECT_EQ(read(camera, 1) >> 20, 1u) << "pon";
    for (uint32_t address = 26; address <= 32; ++address) {
        EXPECT_NE(read(camera, address), 0u) << address;
    }
    const uint32_t known[] = {0,        5000000,  7500000,  10000000,
                              15000000, 20000000, 25000000, 30000000};
    int offsets = 0;
    for (uint32_t i = 0; i < 12; ++i) {
        EXPECT_NE(std::find(std::begin(known), std::end(known), read(camera, 130 + 10 * i)),
                  std::end(known));
        offsets += read(camera, 134 + 10 * i) != 0;
    }
    EXPECT_GT(offsets, 2);
}

TEST_F(Identity, IdentityRegistersPackPonSerialDateAndVersion) {
    useProfile("[camera]\npon = 0xABC\nserial = 0x12345\nrelease = 26.02.2013\nfirmware = 1.4.2\n");
    KvxHandle camera = open();
    EXPECT_EQ(read(camera, 1), 0xABC12345u);
    EXPECT_EQ(read(camera, 2), 0x26022013u);
    EXPECT_EQ(read(camera, 56), (1u << 11) | (4u << 6) | 2u);
    EXPECT_NE(write(camera, 56, 0x10C1), 0) << "identity is read-only";
    EXPECT_EQ(read(camera, 56), 0x0902u);
}

using Registers = SimcamTest;

TEST_F(Registers, RangesAreServedOnlyWithinTheRegisterMap) {
    KvxHandle camera = open();
    uint32_t words[3] = {7, 8, 9};
    uint32_t count = 3;
    ASSERT_EQ(KVXwriteRegister(camera, 600, words, &count), 0);
    uint32_t back[3] = {};
    ASSERT_EQ(KVXreadRegister(camera, 600, back, &count), 0);
    EXPECT_EQ(back[2], 9u);
    count = 2;
    EXPECT_NE(KVXreadRegister(camera, 1023, back, &count), 0) << "runs past 1023";
    EXPECT_NE(tryRead(camera, 1024, back), 0);
    EXPECT_NE(write(camera, 0xFFFFFFFF, 1), 0);
    EXPECT_NE(KVXwriteRegister(camera, 20, words, &count), 0) << "commands go one at a time";
}

TEST_F(Registers, CallsWithoutALiveHandleFail) {
    uint32_t value = 0;
    EXPECT_NE(tryRead(nullptr, 2, &value), 0) << "before any open";
    KvxHandle first = open();
    EXPECT_NE(tryRead(nullptr, 2, &value), 0);
    ASSERT_EQ(close(first), 0);
    EXPECT_NE(tryRead(first, 2, &value), 0) << "closed";
    KvxHandle second = open();
    EXPECT_NE(second, first);
    EXPECT_NE(tryRead(first, 2, &value), 0) << "stale after reopening";
    EXPECT_NE(close(first), 0);
    EXPECT_EQ(read(second, 2), 0x14112013u);
}

using Flash = SimcamTest;

TEST_F(Flash, HoldsWhatWasStoredAndTheReloadBringsItBack) {
    KvxHandle camera = open();
    ASSERT_EQ(write(camera, 26, 0xAAAA), 0);
    ASSERT_EQ(write(camera, 126, 0xCCCC), 0);
    ASSERT_EQ(write(camera, 21, kMagic), 0);
    ASSERT_EQ(write(camera, 20, kStore), 0);
    ASSERT_EQ(write(camera, 26, 0xBBBB), 0);
    ASSERT_EQ(write(camera, 126, 0), 0);
    ASSERT_EQ(write(camera, 21, kMagic), 0);
    ASSERT_EQ(write(camera, 54, kReload), 0);
    EXPECT_EQ(read(camera, 26), 0xAAAAu);
    EXPECT_EQ(read(camera, 126), 0xCCCCu);
}

TEST_F(Flash, MagicArmsExactlyOneCommand) {
    KvxHandle camera = open();
    ASSERT_EQ(write(camera, 21, kMagic), 0);
    ASSERT_EQ(write(camera, 300, 1), 0) << "other writes leave it armed";
    EXPECT_EQ(write(camera, 20, kStore), 0);
    EXPECT_NE(write(camera, 20, kStore), 0);
    EXPECT_NE(write(camera, 54, kReload), 0);
}

TEST_F(Flash, MagicIsConsumedByARefusedCommand) {
    KvxHandle camera = open();
    ASSERT_EQ(write(camera, 21, kMagic), 0);
    EXPECT_NE(write(camera, 20, 2), 0) << "not the store value";
    EXPECT_NE(write(camera, 20, kStore), 0) << "magic already used up";
    ASSERT_EQ(write(camera, 21, kMagic), 0);
    ASSERT_EQ(write(camera, 21, 0), 0);
    EXPECT_NE(write(camera, 20, kStore), 0) << "overwritten magic is no magic";
}

TEST_F(Flash, RefusedCommandsChangeNothing) {
    KvxHandle camera = open();
    uint32_t original = read(camera, 26);
    ASSERT_EQ(write(camera, 26, 0x1111), 0);
    EXPECT_NE(write(camera, 20, kStore), 0);
    EXPECT_NE(write(camera, 54, kReload), 0);
    EXPECT_EQ(read(camera, 26), 0x1111u) << "no reload happened";
    ASSERT_EQ(write(camera, 21, kMagic), 0);
    ASSERT_EQ(write(camera, 54, kReload), 0);
    EXPECT_EQ(read(camera, 26), original) << "no store happened";
}

using FaultInjection = SimcamTest;

TEST_F(FaultInjection, OpenFailsTheGivenNumberOfTimesThenConnects) {
    useProfile("[camera]\nopen-fails = 2 -3\n");
    KvxHandle camera = nullptr;
    EXPECT_EQ(tryOpen(&camera), -3);
    EXPECT_EQ(tryOpen(&camera), -3);
    EXPECT_EQ(tryOpen(&camera), 0);
}

TEST_F(FaultInjection, RegisterFaultsHitOnlyTheirRegisterAndChangeNothing) {
    useProfile("[camera]\nread-fails = 56 -6\nread-fails = 56 -7\nwrite-fails = 27 -8\n");
    KvxHandle camera = open();
    uint32_t words[3];
    uint32_t count = 3;
    EXPECT_EQ(tryRead(camera, 56, words), -7) << "the later line wins";
    EXPECT_EQ(tryRead(camera, 56, words), -7) << "every read";
    EXPECT_EQ(KVXreadRegister(camera, 55, words, &count), -7) << "a range touching it";
    uint32_t before = read(camera, 27);
    EXPECT_EQ(write(camera, 27, before + 1), -8);
    EXPECT_EQ(read(camera, 27), before);
    EXPECT_EQ(write(camera, 28, 1), 0);
}

TEST_F(FaultInjection, FailCallCountsEveryCallFromTheFirst) {
    useProfile("fail-call = 1 -5\nfail-call = 4 -6\n");
    KvxConfig config;
    config.timeoutMs = 1234;
    EXPECT_EQ(KVXinitConfig(&config), -5);
    EXPECT_EQ(config.timeoutMs, 1234u) << "a failed call has no effect";
    KvxHandle camera = open();  // calls 2 and 3
    uint32_t value = 0;
    EXPECT_EQ(tryRead(camera, 2, &value), -6);
    EXPECT_EQ(tryRead(camera, 2, &value), 0);
}

TEST_F(FaultInjection, AFailedCloseStillDropsTheLink) {
    useProfile("fail-call = 4 -5\n");
    useTrace();
    KvxHandle camera = open();
    EXPECT_EQ(read(camera, 2), 0x14112013u);
    EXPECT_EQ(close(camera), -5);
    EXPECT_EQ(traceLines().back(), "KVXclose -> -5");
    uint32_t value = 0;
    EXPECT_NE(tryRead(camera, 2, &value), 0);
    open();
}

TEST_F(FaultInjection, AfterRebootFaultsWaitForAReboot) {
    useProfile("[camera]\nread-fails-after-reboot = 2 -9\nwrite-fails-after-reboot = 21 -9\n");
    writeImages();
    KvxHandle camera = open();
    uint32_t value = 0;
    EXPECT_EQ(tryRead(camera, 2, &value), 0);
    EXPECT_EQ(write(camera, 21, kMagic), 0);
    camera = update(camera, kImage231);
    EXPECT_EQ(tryRead(camera, 2, &value), -9);
    EXPECT_EQ(write(camera, 21, kMagic), -9);
}

TEST_F(FaultInjection, FailCallTakesAnyNonzero32BitStatus) {
    useProfile("fail-call = 1 -2147483648\nfail-call = 2 2147483647\n");
    KvxConfig config;
    EXPECT_EQ(KVXinitConfig(&config), INT32_MIN);
    KvxHandle camera = nullptr;
    EXPECT_EQ(KVXopen(&config, &camera), INT32_MAX);
}

using CameraView = SimcamTest;

TEST_F(CameraView, ShowsCalibrationFlashAndFirmwareOfEachCamera) {
    useProfile("[camera]\nflash 126 = 0x55\n[camera]\nregister 27 = 9\n");
    writeImages();
    SimCameraView view;
    KvxHandle camera = open();
    ASSERT_TRUE(simCameraView(1, &view));
    EXPECT_FALSE(view.presented);
    ASSERT_TRUE(simCameraView(0, &view));
    EXPECT_TRUE(view.presented);
    EXPECT_EQ(view.calibration[0], 0x1234u) << "register 26";
    EXPECT_EQ(view.calibration[13], 0x80000000u) << "register 126";
    EXPECT_EQ(view.flash[13], 0x55u);
    EXPECT_EQ(view.running.version, 0x1000u);
    EXPECT_EQ(view.running.release, 0x14112013u);
    EXPECT_FALSE(view.hasPending);
    ASSERT_EQ(write(camera, 120, 7), 0);
    ASSERT_EQ(load(camera, kImage231), 0);
    ASSERT_TRUE(simCameraView(0, &view));
    EXPECT_EQ(view.calibration[7], 7u) << "register 120";
    EXPECT_TRUE(view.hasPending);
    EXPECT_EQ(view.pending.version, 0x10C1u);
    EXPECT_EQ(view.pending.release, 0x28102015u);
    ASSERT_EQ(close(camera), 0);
    open();
    ASSERT_TRUE(simCameraView(0, &view));
    EXPECT_EQ(view.running.version, 0x10C1u);
    EXPECT_FALSE(view.hasPending);
    EXPECT_EQ(view.flash[0], 0u);
    EXPECT_FALSE(simCameraView(2, &view)) << "past the last camera";
}

using MultiCamera = SimcamTest;

TEST_F(MultiCamera, APlainCloseBringsTheNextCameraALoadTheSameOneAgain) {
    useProfile("[camera]\nserial = 1\n[camera]\nserial = 2\n[camera]\nserial = 3\n");
    writeImages();
    KvxHandle camera = update(open(), kImage231);
    EXPECT_EQ(read(camera, 1) & 0xFFFFF, 1u) << "rebooted, still the first";
    EXPECT_EQ(read(camera, 56), 0x10C1u);
    for (uint32_t serial : {2u, 3u, 3u}) {
        ASSERT_EQ(close(camera), 0);
        camera = open();
        EXPECT_EQ(read(camera, 1) & 0xFFFFF, serial) << "the last one stays";
    }
}

TEST_F(MultiCamera, FailedOpensNeverAdvance) {
    useProfile(
        "fail-call = 5 -5\n[camera]\nserial = 1\n[camera]\nserial = 2\n[camera]\nserial = 3\n");
    KvxHandle camera = open();  // calls 1 and 2
    ASSERT_EQ(close(camera), 0);
    KvxConfig config;
    ASSERT_EQ(KVXinitConfig(&config), 0);
    EXPECT_EQ(KVXopen(&config, &camera), -5);
    camera = open();
    EXPECT_EQ(read(camera, 1) & 0xFFFFF, 2u);
}

}  // namespace
