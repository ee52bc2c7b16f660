// The progress ring and its writer: every report printed once, in order, and
// a load that runs ahead of a stalled console waits instead of losing lines.
#include "camera/progress.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "tests/unit/dialogue.h"

namespace {

std::string linesFor(int first, int last) {
    std::string text;
    for (int i = first; i <= last; ++i) {
        text += "status " + std::to_string(i) + ", percentage " + std::to_string(i % 256) + "\n";
    }
    return text;
}

void reportRange(int first, int last) {
    for (int i = first; i <= last; ++i) {
        reportProgress({i, static_cast<uint8_t>(i % 256)});
    }
}

}  // namespace

TEST(ProgressRing, GivesBackInOrderAcrossItsEndAndRefusesWhenFull) {
    ProgressRing ring{};
    ProgressReport report{};
    EXPECT_FALSE(popReport(&ring, &report));
    // Three rounds through the ring's end, each filled to the last slot.
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < PROGRESS_RING_SIZE; ++i) {
            ASSERT_TRUE(pushReport(&ring, {round * 1000 + i, static_cast<uint8_t>(i)}));
        }
        EXPECT_FALSE(pushReport(&ring, {-1, 0}));
        EXPECT_EQ(ring.count, PROGRESS_RING_SIZE);
        // Half out, so that the next round starts in the middle.
        for (int i = 0; i < PROGRESS_RING_SIZE / 2 + round; ++i) {
            ASSERT_TRUE(popReport(&ring, &report));
            EXPECT_EQ(report.status, round * 1000 + i);
            EXPECT_EQ(report.percentage, i);
        }
        while (popReport(&ring, &report)) {
        }
    }
}

TEST(ProgressWriter, PrintsEveryReportInOrderBeforeItStops) {
    testing::internal::CaptureStdout();
    startProgressWriter();
    // Many more than the ring holds, as fast as a library could report them.
    reportRange(0, 20 * PROGRESS_RING_SIZE);
    stopProgressWriter();
    std::printf("after\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              linesFor(0, 20 * PROGRESS_RING_SIZE) + "after\n");
    // Without a writer the callback prints at once.
    testing::internal::CaptureStdout();
    reportRange(7, 7);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), linesFor(7, 7));
}

TEST(ProgressWriter, AStalledConsoleHoldsTheLoadOnlyOnceTheRingIsFull) {
    // Standard output into a pipe that nobody reads yet, filled to the brim:
    // the writer's first line blocks as on a console stopped with Ctrl-S.
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    std::fflush(stdout);
    int savedOutput = dup(STDOUT_FILENO);
    fcntl(pipeEnds[1], F_SETFL, O_NONBLOCK);
    std::string brim(4096, 'x');
    size_t filled = 0;
    for (ssize_t n = 0; n >= 0; filled += static_cast<size_t>(n > 0 ? n : 0)) {
        n = write(pipeEnds[1], brim.data(), brim.size());
    }
    // The rest of a page may still fit: fill it byte by byte.
    while (write(pipeEnds[1], "x", 1) == 1) {
        ++filled;
    }
    fcntl(pipeEnds[1], F_SETFL, 0);
    dup2(pipeEnds[1], STDOUT_FILENO);

    constexpr int REPORTS = 3 * PROGRESS_RING_SIZE;
    std::atomic<int> handedOver{0};
    startProgressWriter();
    std::thread load([&handedOver] {
        for (int i = 0; i < REPORTS; ++i) {
            reportRange(i, i);
            ++handedOver;
        }
    });
    // The load runs ahead by the ring, and the one report the writer holds.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_GE(handedOver.load(), PROGRESS_RING_SIZE);
    EXPECT_LE(handedOver.load(), PROGRESS_RING_SIZE + 1);

    // The console goes on: every line follows, none lost, in order.
    std::string out;
    std::thread reader([&out, end = pipeEnds[0]] {
        char chunk[4096];
        for (ssize_t n; (n = read(end, chunk, sizeof chunk)) > 0;) {
            out.append(chunk, static_cast<size_t>(n));
        }
    });
    load.join();
    stopProgressWriter();
    std::fflush(stdout);
    dup2(savedOutput, STDOUT_FILENO);
    close(savedOutput);
    close(pipeEnds[1]);
    reader.join();
    close(pipeEnds[0]);
    EXPECT_EQ(handedOver.load(), REPORTS);
    ASSERT_EQ(out.size(), filled + linesFor(0, REPORTS - 1).size());
    EXPECT_EQ(out.substr(filled), linesFor(0, REPORTS - 1));
}
