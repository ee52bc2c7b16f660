// Writing the calibration back: the fourteen writes and the two flash commands.
#include "calibration/writeback.h"

#include "tests/fake/fake_camera.h"
#include "tests/unit/dialogue.h"

namespace {

class WriteBack : public testing::Test {
protected:
    void SetUp() override {
        fake::reset();
        initProtectedRegisters(table);
        testing::internal::CaptureStdout();
    }
    std::string output() {
        return testing::internal::GetCapturedStdout();
    }
    RegisterTable table;
};

}  // namespace

TEST_F(WriteBack, WritesAllFourteenRowsEvenWithOneValueCaptured) {
    setRegisterValue(table, 123, -3);
    EXPECT_TRUE(writeProtectedRegisters(nullptr, table));
    std::string printed = output();
    EXPECT_EQ(fake::writeCount(), 14);
    EXPECT_EQ(fake::calls()[10], "write 123 0xfffffffd");
    EXPECT_NE(printed.find("Data written: address = 26, data = 0.\n"), std::string::npos);
    EXPECT_NE(printed.find("Data written: address = 123, data = -3.\n"), std::string::npos);
    EXPECT_EQ(fake::registerValue(123), 0xFFFFFFFDu);
}

TEST_F(WriteBack, FailedWriteStopsAtItsRow) {
    fake::failWrite(29, -6);
    EXPECT_FALSE(writeProtectedRegisters(nullptr, table));
    EXPECT_EQ(output(),
              "Data written: address = 26, data = 0.\n"
              "Data written: address = 27, data = 0.\n"
              "Data written: address = 28, data = 0.\n"
              "Could not write protected register address 29.\n");
    EXPECT_EQ(fake::writeCount(), 4);
}

TEST_F(WriteBack, EachFlashCommandIsArmedWithItsOwnMagic) {
    EXPECT_TRUE(saveProtectedRegisters(nullptr));
    EXPECT_TRUE(resetRegisterMap(nullptr));
    EXPECT_EQ(output(),
              "Protected registers successfully saved.\nRegister map successfully reset.\n");
    EXPECT_EQ(fake::calls(),
              (std::vector<std::string>{"write 21 0x4b525137", "write 20 0x1",
                                        "write 21 0x4b525137", "write 54 0x1000000"}));
}

TEST_F(WriteBack, RefusedMagicMeansNoCommandIsWritten) {
    fake::failWrite(21, -9);
    EXPECT_FALSE(saveProtectedRegisters(nullptr));
    EXPECT_FALSE(resetRegisterMap(nullptr));
    EXPECT_EQ(output(),
              "Could not set flash magic. Protected registers not saved.\n"
              "Could not set flash magic. Register map not reset.\n");
    EXPECT_EQ(fake::writeCount(), 2);
}

TEST_F(WriteBack, RefusedCommandsAreReported) {
    fake::failWrite(20, -1);
    fake::failWrite(54, -1);
    EXPECT_FALSE(saveProtectedRegisters(nullptr));
    EXPECT_FALSE(resetRegisterMap(nullptr));
    EXPECT_EQ(output(),
              "Could not write flash. Protected registers not saved.\n"
              "Could not reset register map. Register map not reset.\n");
}
