// Decoding and printing the camera's identity registers.
#include "camera/identification.h"

#include "tests/fake/fake_camera.h"
#include "tests/unit/dialogue.h"

namespace {

struct Identified {
    int result;
    VersionInfo info;
    std::string output;
};

Identified identify(uint32_t serialReg, uint32_t firmwareReg, uint32_t versionReg) {
    fake::reset();
    fake::setRegister(1, serialReg);
    fake::setRegister(2, firmwareReg);
    fake::setRegister(56, versionReg);
    Identified identified{};
    testing::internal::CaptureStdout();
    identified.result = readVersionInfo(nullptr, &identified.info);
    identified.output = testing::internal::GetCapturedStdout();
    return identified;
}

}  // namespace

TEST(Identification, DecodesAndPrintsAllFourLines) {
    Identified id = identify((1u << 20) | 7, 0x26022013, 1u << 12);
    EXPECT_EQ(id.result, 0);
    EXPECT_EQ(id.output,
              "PON: 410-3105-1\nSerial: 7\nRelease date: 26.2.2013\nFirmware version: 2.0.0\n");
    EXPECT_EQ(id.info.day, 0x26);
    EXPECT_EQ(id.info.month, 0x02);
    EXPECT_EQ(id.info.year, 0x2013);
    EXPECT_EQ(fake::calls(), (std::vector<std::string>{"read 2", "read 56", "read 1"}));
}

TEST(Identification, FieldsTakeOnlyTheirOwnBits) {
    Identified id = identify(0x000FFFFF, 0x05102015, 0xFFFF0000u | (31u << 11) | (1u << 6) | 63u);
    EXPECT_EQ(id.info.serial, 1048575);
    EXPECT_EQ(id.info.ponIndex, 0);
    EXPECT_EQ(id.output,
              "PON: 000-0000-0\nSerial: 1048575\nRelease date: 5.10.2015\n"
              "Firmware version: 31.1.63\n");
}

TEST(Identification, TopBitsDecodeNonNegative) {
    Identified id = identify(0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
    EXPECT_EQ(id.info.ponIndex, 4095);
    EXPECT_EQ(id.info.day, 0xFF);
    EXPECT_EQ(id.info.major, 31);
}

TEST(Identification, PonIndexBeyondTheTableShowsUnknown) {
    EXPECT_EQ(identify(7u << 20, 0, 0).output.substr(0, 16), "PON: unknownPON\n");
    EXPECT_EQ(identify(5u << 20, 0, 0).output.substr(0, 16), "PON: 430-3305-2\n");
}

TEST(Identification, FailedReadStopsAtOnceAndPrintsNothing) {
    fake::reset();
    fake::failRead(56, -7);
    VersionInfo info{};
    testing::internal::CaptureStdout();
    EXPECT_EQ(readVersionInfo(nullptr, &info), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_FALSE(fake::wasRead(1));

    fake::reset();
    fake::failRead(2, -7);
    EXPECT_EQ(readVersionInfo(nullptr, &info), -1);
    EXPECT_EQ(fake::calls(), std::vector<std::string>{"read 2"});
}
