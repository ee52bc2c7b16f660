// The dialogue helpers: what each kind of prompt consumes and what stays
// pending, and output that cannot be written.
#include "console/console.h"

#include <fcntl.h>
#include <unistd.h>

#include "console/interrupt.h"
#include "console/window.h"
#include "tests/fake/fake_os.h"
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

TEST(Yes, OnlyYOrYesIsYesAndTheWholeLineIsTaken) {
    for (const char* yes : {"y\n", "yes\n", "y\r\n", "yes\r\n"}) {
        feedInput(std::string(yes) + "next\n");
        EXPECT_TRUE(readYes()) << yes;
        EXPECT_EQ(pendingInput(), "next\n") << yes;
    }
    const std::string noes[] = {"yn\n",
                                "yno\n",
                                "Y\n",
                                "y \n",
                                "yess\n",
                                "yes\r\r\n",
                                "n\n",
                                "yesyes\n",
                                "ye\n",
                                "\r\n",
                                "\n",
                                "y\r\rx\n",
                                std::string("y\0\n", 3)};
    for (const std::string& no : noes) {
        feedInput(no + "next\n");
        EXPECT_FALSE(readYes()) << no;
        EXPECT_EQ(pendingInput(), "next\n") << no;
    }
}

TEST(Yes, EndOfInputIsNo) {
    feedInput("");
    EXPECT_FALSE(readYes());
    feedInput("yes");  // a last line without newline still counts
    EXPECT_TRUE(readYes());
    EXPECT_FALSE(readYes());
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

TEST(WaitForLine, OneLineAnswersThePromptWhateverItHolds) {
    feedInput("ok\nq\n");
    testing::internal::CaptureStdout();
    EXPECT_TRUE(waitForLine("reboot?"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "reboot?");
    EXPECT_EQ(pendingInput(), "q\n");
}

TEST(WaitForLine, EndOfInputBeforeAnyCharacterIsNoAnswer) {
    testing::internal::CaptureStdout();
    feedInput("");
    EXPECT_FALSE(waitForLine("reboot?"));
    feedInput("x");  // a last line without newline still answers
    EXPECT_TRUE(waitForLine("reboot?"));
    testing::internal::GetCapturedStdout();
}

TEST(Say, RemembersOutputThatCouldNotBeWritten) {
    startConsole();
    int kept = dup(STDOUT_FILENO);
    int full = open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    dup2(full, STDOUT_FILENO);
    say("lost\n");
    bool failed = outputFailed();
    std::clearerr(stdout);
    dup2(kept, STDOUT_FILENO);
    close(full);
    close(kept);
    EXPECT_TRUE(failed);
    startConsole();
    say("%s", "");
    EXPECT_FALSE(outputFailed());
}

class ConsoleWindow : public testing::Test {
protected:
    void TearDown() override {
        fake::resetOs(0, {80, 300});
    }
};

TEST_F(ConsoleWindow, StartRaisesAShortBufferKeepingItsWidthAndNeverLowersIt) {
    fake::resetOs(2, {120, 300});
    startConsole();
    EXPECT_EQ(fake::os().buffer.width, 120);
    EXPECT_EQ(fake::os().buffer.height, BUFFER_LINES);
    fake::resetOs(2, {120, 20000});
    startConsole();
    EXPECT_EQ(fake::os().buffer.height, 20000);
    fake::resetOs(0, {120, 300});
    startConsole();
    EXPECT_EQ(fake::os().changes, 0);
}

TEST_F(ConsoleWindow, AWindowOfItsOwnWaitsForReturnUnlessTheLastPromptWasAnswered) {
    constexpr char CLOSING[] = "Hit <return> to close this window.\n";
    struct Ending {
        int processes;
        bool answered;  // the run's last words were a "Hit <return>" that read its key
        bool userQuit;
        bool waits;
    };
    for (Ending ending : {Ending{1, false, false, true}, Ending{1, true, false, false},
                          Ending{1, false, true, false}, Ending{2, false, false, false},
                          Ending{0, false, false, false}}) {
        fake::resetOs(ending.processes, {80, 300});
        startConsole();
        feedInput("\n\nrest");
        testing::internal::CaptureStdout();
        if (ending.answered) {
            waitForReturn("Hit <return> to quit.\n");
        } else {
            say("Repeat (r) or quit (q) ?\n");
        }
        EXPECT_EQ(closeConsole(-1, ending.userQuit), -1);
        std::string output = testing::internal::GetCapturedStdout();
        bool waited = output.find(CLOSING) != std::string::npos;
        EXPECT_EQ(waited, ending.waits) << ending.processes << ending.answered << ending.userQuit;
        // Asked only when no answer ended the run; the keys typed before the
        // closing line never close the window.
        std::vector<std::string> asked{"consoleProcessCount", "discardTypedAhead",
                                       "readConsoleLine: no console"};
        if (!ending.answered && !ending.userQuit) {
            asked.resize(ending.waits ? 3 : 1);
            EXPECT_EQ(fake::callsSinceLast("consoleProcessCount"), asked) << ending.processes;
        }
        // One key closes the window; nothing else is read.
        EXPECT_EQ(pendingInput(), std::string("\n\nrest").substr(ending.answered + ending.waits));
    }
}

TEST_F(ConsoleWindow, InAWindowOfItsOwnCtrlCIsAKeyThatStopsTheRunOnceAndNeverClosesIt) {
    fake::resetOs(1, {80, 300});
    startConsole();
    feedInput("piped\n");
    // Ctrl-C at the reboot prompt, twice at the closing line, then Return.
    fake::typeConsoleLines({"\x03", "\x03", "\x03", ""});
    testing::internal::CaptureStdout();
    EXPECT_FALSE(waitForLine("Now please reboot the camera.\n"));
    EXPECT_TRUE(tellStop());
    EXPECT_EQ(closeConsole(0, false), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Now please reboot the camera.\nStopped at the user's request.\n"
              "Hit <return> to close this window.\n");
    std::vector<std::string> reads;
    for (const std::string& call : fake::os().calls) {
        if (call.rfind("readConsoleLine", 0) == 0) {
            reads.push_back(call);
        }
    }
    std::vector<std::string> typed{"readConsoleLine: Ctrl-C", "readConsoleLine: Ctrl-C",
                                   "readConsoleLine: Ctrl-C", "readConsoleLine: "};
    EXPECT_EQ(reads, typed);
    // Standard input is the console there: the pipe's line is never read.
    EXPECT_EQ(pendingInput(), "piped\n");
}

TEST_F(ConsoleWindow, TheConsolesKeysAnswerAsTypedLinesDo) {
    fake::resetOs(1, {80, 300});
    startConsole();
    feedInput("");
    fake::typeConsoleLines({"rq", "yes", "y es", "ok then"});
    EXPECT_EQ(readChoice(), 'r');  // the rest of its line discarded
    EXPECT_TRUE(readYes());
    EXPECT_FALSE(readYes());
    EXPECT_TRUE(waitForLine(""));
    // Shared with another process the console's keys are not read as such.
    fake::resetOs(2, {80, 300});
    fake::typeConsoleLines({"q"});
    feedInput("r\n");
    EXPECT_EQ(readChoice(), 'r');
    for (const std::string& call : fake::os().calls) {
        EXPECT_NE(call, "readConsoleLine: q");
    }
}

TEST_F(ConsoleWindow, QuickEditAndInsertComeBackFromEitherKindOfSavedMode) {
    // Read with the extended flags the mode is whole and goes back as it was;
    // read without them (another program set a mode without them) quick-edit
    // and insert mode are unknown and go back on, with the flags.
    struct Saved {
        uint32_t mode;
        uint32_t held;
        uint32_t restored;
    };
    for (Saved saved :
         {Saved{0x1F7, 0x1B7, 0x1F7}, Saved{0x197, 0x197, 0x197}, Saved{0x0A7, 0x0A7, 0x0A7},
          Saved{0x007, 0x0A7, 0x0E7}, Saved{0x017, 0x0B7, 0x0F7}}) {
        EXPECT_EQ(heldInputMode(saved.mode), saved.held) << saved.mode;
        EXPECT_EQ(restoredInputMode(saved.mode), saved.restored) << saved.mode;
        // Through a held step, standard input redirected or not: the console's
        // own input (CONIN$) is what the fake's mode stands for.
        fake::resetOs(2, {80, 300});
        fake::setInputMode(saved.mode);
        startConsole();
        ASSERT_TRUE(startHeldStep());
        endHeldStep();
        EXPECT_EQ(fake::os().inputModesWritten,
                  (std::vector<uint32_t>{saved.held, saved.restored}));
    }
}
