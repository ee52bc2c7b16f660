// The KVX_SIM_TRACE file: the exact line of each call and each camera event,
// which transcript tests of the tool compare against.
#include <stdlib.h>

#include <string>
#include <vector>

#include "simcam_test_support.h"

namespace {

const std::string kBuiltInCalibration =
    "26=0x1234 27=0xabc 28=0xfffffff4 29=0x10203 30=0x40 31=0x7fff0001 32=0x7 "
    "120=0x100 121=0x0 122=0x2000 123=0x0 124=0xf 125=0x0 126=0x80000000";

using Trace = SimcamTest;

TEST_F(Trace, RecordsEachCallAndCameraEventInTheDocumentedFormat) {
    useProfile("[camera]\nopen-fails = 1 -3\nread-fails = 26 -7\n");
    useTrace();
    writeImages();
    KvxHandle camera = nullptr;
    EXPECT_EQ(tryOpen(&camera), -3);
    camera = open();
    uint32_t value = 0;
    read(camera, 2);
    tryRead(camera, 26, &value);
    write(camera, 20, 1);
    write(camera, 21, 0x4B525137);
    write(camera, 20, 1);
    camera = update(camera, kImage231);
    EXPECT_EQ(traceLines(), (std::vector<std::string>{
                                "KVXinitConfig -> 0",
                                "KVXopen -> -3",
                                "KVXinitConfig -> 0",
                                "sim: camera 1 firmware 2.0.0 released 14.11.2013",
                                "KVXopen -> 0",
                                "KVXreadRegister 2 -> 0 0x14112013",
                                "KVXreadRegister 26 -> -7",
                                "KVXwriteRegister 20 0x1 -> -30",
                                "KVXwriteRegister 21 0x4b525137 -> 0",
                                "sim: camera 1 flash " + kBuiltInCalibration,
                                "KVXwriteRegister 20 0x1 -> 0",
                                "sim: camera 1 loaded 2.3.1",
                                "KVXfirmwareUpdate 20151028_Lumivor-Q713_v2.3.1.bin -> 0",
                                "KVXclose -> 0",
                                "KVXinitConfig -> 0",
                                "sim: camera 1 rebooted into 2.3.1",
                                "KVXopen -> 0",
                            }));
}

TEST_F(Trace, RegisterRangesShowTheirCount) {
    useTrace();
    KvxHandle camera = open();
    uint32_t words[2] = {0xA, 0xB};
    uint32_t count = 2;
    KVXwriteRegister(camera, 600, words, &count);
    KVXreadRegister(camera, 600, words, &count);
    std::vector<std::string> lines = traceLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[3], "KVXwriteRegister 600 x2 0xa 0xb -> 0");
    EXPECT_EQ(lines[4], "KVXreadRegister 600 x2 -> 0 0xa 0xb");
}

TEST_F(Trace, ProcessExitWritesOneLinePerCameraPresented) {
    useProfile("[camera]\n[camera]\nregister 26 = 0x77\n[camera]\n");
    useTrace();
    writeImages();
    EXPECT_EXIT(
        {
            KvxHandle camera = open();
            write(camera, 26, 5);
            close(camera);
            camera = open();
            load(camera, kImage231);
            exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::vector<std::string> lines = traceLines();
    ASSERT_GE(lines.size(), 2u);
    std::string second = "120=0x100 121=0x0 122=0x2000 123=0x0 124=0xf 125=0x0 126=0x80000000";
    second = "26=0x77 27=0xabc 28=0xfffffff4 29=0x10203 30=0x40 31=0x7fff0001 32=0x7 " + second;
    EXPECT_EQ(lines[lines.size() - 2],
              "sim: camera 1 exit running 2.0.0 pending none registers 26=0x5" +
                  kBuiltInCalibration.substr(9) + " flash " + kBuiltInCalibration);
    EXPECT_EQ(lines.back(), "sim: camera 2 exit running 2.0.0 pending 2.3.1 registers " + second +
                                " flash " + second);
}

}  // namespace
