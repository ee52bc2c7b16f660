// Capturing calibration: direct reads and the frequency rule of the offset search.
#include "calibration/capture.h"

#include <gtest/gtest.h>

#include "tests/fake/fake_camera.h"

namespace {

class Capture : public testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        initProtectedRegisters(table);
    }
    void sequence(int i, uint32_t frequencyHz, uint32_t offset) {
        fake::setRegister(130 + 10 * static_cast<uint32_t>(i), frequencyHz);
        fake::setRegister(134 + 10 * static_cast<uint32_t>(i), offset);
    }
    // True when an offset was stored and every read succeeded.
    bool search() {
        testing::internal::CaptureStdout();
        result = findSequenceDistanceOffsets(nullptr, table);
        output = testing::internal::GetCapturedStdout();
        return result == CaptureResult::Captured;
    }
    int32_t row(int32_t address) {
        int32_t value = -1;
        getRegisterValue(table, address, &value);
        return value;
    }
    RegisterTable table;
    CaptureResult result = CaptureResult::NothingCaptured;
    std::string output;
};

}  // namespace

TEST_F(Capture, ZeroOffsetNeverBlocksALaterSequence) {
    sequence(2, 20000000, 0);
    sequence(5, 20000000, 57);
    EXPECT_TRUE(search());
    EXPECT_EQ(row(124), 57);
}

TEST_F(Capture, FirstNonzeroOffsetPerFrequencyWins) {
    sequence(2, 20000000, 12);
    sequence(5, 20000000, 57);
    EXPECT_TRUE(search());
    EXPECT_EQ(row(124), 12);
    EXPECT_FALSE(fake::wasRead(184));
}

TEST_F(Capture, EveryKnownFrequencyHasItsRow) {
    const uint32_t frequencies[] = {5000000,  7500000,  10000000, 15000000,
                                    20000000, 25000000, 30000000};
    for (int i = 0; i < 7; ++i) {
        sequence(i, frequencies[i], static_cast<uint32_t>(100 + i));
    }
    EXPECT_TRUE(search());
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(row(120 + i), 100 + i);
    }
}

TEST_F(Capture, UnknownFrequencyIsSkippedSilentlyWithoutReadingItsOffset) {
    sequence(3, 12000000, 9);
    sequence(4, 0, 9);
    EXPECT_FALSE(search());
    EXPECT_EQ(output, "");
    EXPECT_FALSE(fake::wasRead(164));
    EXPECT_FALSE(fake::wasRead(174));
    EXPECT_TRUE(fake::wasRead(240));  // all twelve sequences are visited
}

TEST_F(Capture, DirectlyReadOffsetWinsOverEverySequence) {
    fake::setRegister(120, 77);
    sequence(0, 5000000, 5);
    testing::internal::CaptureStdout();
    EXPECT_EQ(readProtectedRegisters(nullptr, table), CaptureResult::Captured);
    testing::internal::GetCapturedStdout();
    search();
    EXPECT_EQ(row(120), 77);
    EXPECT_FALSE(fake::wasRead(134));
}

TEST_F(Capture, FailedReadsNameTheRegistersOfTheirSequence) {
    sequence(10, 30000000, 3);
    fake::failRead(240, -4);
    fake::failRead(234, -4);
    EXPECT_FALSE(search());
    EXPECT_EQ(result, CaptureResult::ReadFailed);
    EXPECT_EQ(output,
              "Could not read distance offset: register 234\n"
              "Could not read modulation frequency of sequence 11: register 240\n");
}

// A value that could not be read would be written back as 0: one failed read
// fails the search, whatever else it stored, and the rest is still visited.
TEST_F(Capture, OneFailedReadFailsASearchThatStoredOffsets) {
    sequence(0, 5000000, 12);
    sequence(1, 7500000, 4);
    fake::failRead(144, -4);
    sequence(6, 30000000, 9);
    EXPECT_FALSE(search());
    EXPECT_EQ(result, CaptureResult::ReadFailed);
    EXPECT_EQ(row(120), 12);
    EXPECT_EQ(row(126), 9);
}

TEST_F(Capture, AllZeroRegistersLeaveTheTableUntouched) {
    EXPECT_EQ(readProtectedRegisters(nullptr, table), CaptureResult::NothingCaptured);
    for (const RegisterEntry& entry : table) {
        EXPECT_EQ(entry.value, 0);
    }
}

TEST_F(Capture, FailedDirectReadStopsAtThatRow) {
    fake::setRegister(26, 1);
    fake::setRegister(28, 3);
    fake::failRead(27, -2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(readProtectedRegisters(nullptr, table), CaptureResult::ReadFailed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Could not read protected register address 27.\n");
    EXPECT_EQ(row(26), 1);
    EXPECT_FALSE(fake::wasRead(28));
}
