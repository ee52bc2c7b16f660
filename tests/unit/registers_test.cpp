// The backup table: its rows, lookups and printout.
#include "calibration/registers.h"

#include "tests/unit/dialogue.h"

namespace {

std::string printed(const RegisterTable& table) {
    testing::internal::CaptureStdout();
    printRegisterValues(table);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(BackupTable, FreshTablePrintsFourteenEmptyRowsInOrder) {
    RegisterTable table;
    initProtectedRegisters(table);
    std::string expected = "Register values:\n";
    for (int address : {26, 27, 28, 29, 30, 31, 32, 120, 121, 122, 123, 124, 125, 126}) {
        expected += "\taddress = " + std::to_string(address) + ", data = 0.\n";
    }
    EXPECT_EQ(printed(table), expected);
}

TEST(BackupTable, RefusesAddressZeroAndAddressesNotInTheTable) {
    RegisterTable table;
    initProtectedRegisters(table);
    EXPECT_FALSE(setRegisterValue(table, 33, 5));
    EXPECT_FALSE(setRegisterValue(table, 0, 5));
    int32_t value = 99;
    EXPECT_FALSE(getRegisterValue(table, 0, &value));
    EXPECT_FALSE(getRegisterValue(table, 119, &value));
    EXPECT_EQ(value, 99);
    EXPECT_EQ(printed(table).find("data = 5"), std::string::npos);
}

TEST(BackupTable, StoresAndReadsBackByAddress) {
    RegisterTable table;
    initProtectedRegisters(table);
    EXPECT_TRUE(setRegisterValue(table, 126, 42));
    int32_t value = 0;
    EXPECT_TRUE(getRegisterValue(table, 126, &value));
    EXPECT_EQ(value, 42);
    EXPECT_EQ(table[13].value, 42);
}

TEST(BackupTable, EmptyMeansARowWithValueZero) {
    RegisterTable table;
    initProtectedRegisters(table);
    EXPECT_TRUE(isRegisterValueEmpty(table, 124));
    setRegisterValue(table, 124, 1);
    EXPECT_FALSE(isRegisterValueEmpty(table, 124));
    EXPECT_FALSE(isRegisterValueEmpty(table, 0));
    EXPECT_FALSE(isRegisterValueEmpty(table, 33));
}

TEST(BackupTable, ValueWithTopBitSetPrintsNegative) {
    RegisterTable table;
    initProtectedRegisters(table);
    setRegisterValue(table, 26, static_cast<int32_t>(0xFFFFFFF4u));
    EXPECT_NE(printed(table).find("\taddress = 26, data = -12.\n"), std::string::npos);
}
