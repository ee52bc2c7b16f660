// The dialogue helpers: what a choice consumes and what stays pending.
#include "console/console.h"

#include "tests/unit/dialogue.h"

TEST(Choice, TakesTheFirstCharacterAndDiscardsOnlyTheRestOfItsLine) {
    feedInput("quit\nr\n");
    EXPECT_EQ(readChoice(), 'q');
    EXPECT_EQ(pendingInput(), "r\n");
}

TEST(Choice, BareReturnConsumesOnlyItsNewline) {
    feedInput("\nq\n");
    EXPECT_EQ(readChoice(), '\n');
    EXPECT_EQ(pendingInput(), "q\n");
}

TEST(Choice, EndOfInputReadsAsQuit) {
    feedInput("");
    EXPECT_EQ(readChoice(), 'q');
    feedInput("r");  // a last line without newline still counts
    EXPECT_EQ(readChoice(), 'r');
    EXPECT_EQ(readChoice(), 'q');
}

TEST(WaitForReturn, PrintsItsMessageAndLeavesTheRestOfTheLinePending) {
    feedInput("xy\n");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(waitForReturn("Hit <return> to quit"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Hit <return> to quit");
    EXPECT_EQ(pendingInput(), "y\n");
}

TEST(WaitForReturn, ReportsEndOfInput) {
    feedInput("");
    testing::internal::CaptureStdout();
    EXPECT_FALSE(waitForReturn("wait"));
    testing::internal::GetCapturedStdout();
}

TEST(Say, FormatsLikePrintf) {
    testing::internal::CaptureStdout();
    say("%d %x %s%s", -1, 0x2013u, "text", SEPARATOR);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "-1 2013 text------------------------\n");
}
