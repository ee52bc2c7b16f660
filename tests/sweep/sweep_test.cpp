// The fault sweep: complete updates of every sample camera, broken in every
// place that one or two failed library calls or an early end of input can
// break them; each run is judged by the state the simulated camera is left in.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/sweep/dialogue_run.h"

namespace {

struct SampleCamera {
    const char* name;
    const char* sample;   // a profile in simcam/profiles
    const char* extra;    // lines appended to it
    const char* answers;  // what the clean run types
    int status;           // the clean run's exit status
    size_t updated;       // how many cameras, the first ones, the clean run brings to 2.3.1
    bool direct;          // the first camera takes the direct path: 26-32 are read
};

const SampleCamera kCameras[] = {
    {"fw200", "fw200.txt", "", "\nq\n", 0, 1, true},
    {"fw142_20130226", "fw142-20130226.txt", "", "\n\nq\n", 0, 1, false},
    {"fw231", "fw231.txt", "", "\n", -1, 0, false},
    {"demo", "demo.txt", "", "\nr\n\n\nr\n\n", -1, 2, true},
    // The version decides before the date: 2.0.0 goes direct whatever its release.
    {"fw200_20130226", "fw200.txt", "release = 26.02.2013\n", "\nq\n", 0, 1, true},
};

// Names the camera in the test's name and messages.
void PrintTo(const SampleCamera& camera, std::ostream* os) {
    *os << camera.name;
}

constexpr int32_t kStatuses[] = {-77, INT32_MIN};

std::string sampleProfile(const SampleCamera& camera) {
    std::stringstream text;
    text << std::ifstream(std::string(SWEEP_PROFILE_DIR "/") + camera.sample).rdbuf();
    return text.str() + camera.extra;
}

// The lines of text, each with its newline.
std::vector<std::string> answerLines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string firstLines(const std::vector<std::string>& lines, size_t count) {
    std::string text;
    for (size_t i = 0; i < count && i < lines.size(); ++i) {
        text += lines[i];
    }
    return text;
}

std::string failCall(size_t call, int32_t status) {
    return "fail-call = " + std::to_string(call) + " " + std::to_string(status) + "\n";
}

bool runs231(const SimCameraView& camera) {
    return (camera.running.version & 0xFFFF) == kFirmware231.version;
}

// Runs and judges, counting; the first few broken runs are shown in full.
class SweepTest : public testing::Test {
protected:
    void start(const SampleCamera& camera) {
        name_ = camera.name;
        profile_ = sampleProfile(camera);
        answers_ = camera.answers;
        before_ = camerasBefore(profile_);
        ASSERT_FALSE(before_.empty()) << camera.sample;
        clean_ = runDialogue(profile_, answers_, name_ + ", clean");
        ASSERT_FALSE(clean_.calls.empty());
    }

    void TearDown() override {
        printf("%s: %zu library calls in the clean run, %d runs, %d broken\n", name_.c_str(),
               clean_.calls.size(), runs_, broken_);
        EXPECT_EQ(broken_, 0) << "of " << runs_ << " runs";
    }

    void judge(const DialogueRun& run, const std::string& label,
               std::vector<std::string> broken = {}) {
        RunVerdict verdict = judgeRun(run, before_);
        broken.insert(broken.end(), verdict.broken.begin(), verdict.broken.end());
        ++runs_;
        if (broken.empty()) {
            return;
        }
        if (++broken_ <= 5) {
            std::string lines;
            for (const std::string& line : broken) {
                lines += "\n  " + line;
            }
            size_t tail = run.out.size() > 700 ? run.out.size() - 700 : 0;
            ADD_FAILURE() << name_ << ", " << label << ":" << lines << "\n--- end of stdout ---\n"
                          << run.out.substr(tail);
        }
    }

    // Runs with each of calls failing with status; the first of them must
    // have failed as injected.
    void runFaulty(const std::vector<size_t>& calls, int32_t status, const std::string& input,
                   const std::string& label) {
        std::string profile = profile_;
        for (size_t call : calls) {
            profile += failCall(call, status);
        }
        DialogueRun run = runDialogue(profile, input, name_ + ", " + label);
        std::string result = " -> " + std::to_string(status);
        size_t first = calls[0];
        std::vector<std::string> broken;
        const std::string* line = first <= run.calls.size() ? &run.calls[first - 1] : nullptr;
        if (line == nullptr || line->size() < result.size() ||
            line->compare(line->size() - result.size(), result.size(), result) != 0) {
            broken.push_back("call " + std::to_string(first) + " did not fail as injected");
        }
        judge(run, label, broken);
    }

    std::string name_;
    std::string profile_;
    std::string answers_;
    std::vector<SimCameraView> before_;
    DialogueRun clean_;
    int runs_ = 0;
    int broken_ = 0;
};

class Sweep : public SweepTest, public testing::WithParamInterface<SampleCamera> {
protected:
    void SetUp() override {
        start(GetParam());
    }
};

TEST_P(Sweep, CleanRunEndsAsIntended) {
    const SampleCamera& camera = GetParam();
    judge(clean_, "clean");
    EXPECT_EQ(clean_.status, camera.status);
    EXPECT_FALSE(showsFailureLine(clean_.out)) << clean_.out;
    std::vector<PrintedTable> tables = printedTables(clean_.out);
    ASSERT_EQ(tables.size(), camera.updated);
    for (size_t c = 0; c < before_.size(); ++c) {
        const SimCameraView& now = clean_.cameras[c];
        if (c < camera.updated) {
            EXPECT_TRUE(runs231(now)) << "camera " << c + 1;
            EXPECT_EQ(memcmp(now.flash, tables[c].values, sizeof now.flash), 0)
                << "camera " << c + 1;
            EXPECT_EQ(memcmp(now.calibration, now.flash, sizeof now.flash), 0)
                << "camera " << c + 1;
        } else {
            EXPECT_EQ(memcmp(now.flash, before_[c].flash, sizeof now.flash), 0);
            EXPECT_EQ(now.running.version, before_[c].running.version);
            EXPECT_FALSE(now.hasPending);
        }
    }
    if (camera.direct) {
        // The direct path reads 26-32; the patch path would carry zeros for them.
        EXPECT_NE(clean_.out.find("Looking for protected registers data...\n"), std::string::npos);
        EXPECT_EQ(memcmp(tables[0].values, before_[0].calibration, 7 * sizeof(uint32_t)), 0);
    }
}

// Every call of the clean run fails in turn, answered with bare returns, and
// where it is an open, once more with r at the retry prompt.
TEST_P(Sweep, AnyOneFailedCallLosesNoCalibrationSilently) {
    std::vector<std::string> lines = answerLines(answers_);
    for (int32_t status : kStatuses) {
        size_t closes = 0;  // each close is followed by a prompt that reads one line
        for (size_t call = 1; call <= clean_.calls.size(); ++call) {
            std::string label =
                "call " + std::to_string(call) + " fails with " + std::to_string(status);
            runFaulty({call}, status, answers_, label);
            const std::string& name = clean_.calls[call - 1];
            if (name.compare(0, 8, "KVXopen ") == 0) {
                std::string retried = firstLines(lines, closes) + "r\n" +
                                      answers_.substr(firstLines(lines, closes).size());
                runFaulty({call}, status, retried, label + ", r at the retry prompt");
            }
            closes += name.compare(0, 9, "KVXclose ") == 0 ? 1 : 0;
        }
    }
}

TEST_P(Sweep, InputEndingAfterAnyAnswerLosesNoCalibrationSilently) {
    std::vector<std::string> lines = answerLines(answers_);
    for (size_t k = 0; k < lines.size(); ++k) {
        DialogueRun run = runDialogue(profile_, firstLines(lines, k),
                                      name_ + ", input ends after " + std::to_string(k));
        judge(run, "input ends after answer " + std::to_string(k));
    }
}

INSTANTIATE_TEST_SUITE_P(SampleCameras, Sweep, testing::ValuesIn(kCameras),
                         [](const testing::TestParamInfo<SampleCamera>& camera) {
                             return std::string(camera.param.name);
                         });

class SweepDirectPath : public SweepTest {
protected:
    void SetUp() override {
        start(kCameras[0]);
    }
};

// The judge itself, on the clean run made to break each rule once.
TEST_F(SweepDirectPath, JudgeFlagsEveryBrokenRule) {
    auto brokenRules = [this](const DialogueRun& run) { return judgeRun(run, before_).broken; };
    ASSERT_TRUE(brokenRules(clean_).empty());
    size_t tableEnd = printedTables(clean_.out)[0].end;

    DialogueRun run = clean_;
    run.status = 1;
    EXPECT_EQ(brokenRules(run).size(), 1u) << "an exit status other than 0 or -1";

    run = clean_;
    memset(run.cameras[0].flash, 0, sizeof run.cameras[0].flash);
    EXPECT_EQ(brokenRules(run).size(), 2u) << "done, and the calibration lost without a word";
    run.out.insert(tableEnd, "Could not write flash. Protected registers not saved.\n");
    EXPECT_EQ(brokenRules(run).size(), 1u) << "done although a failure line says it is not";

    run = clean_;
    memset(run.cameras[0].calibration, 0, sizeof run.cameras[0].calibration);
    EXPECT_EQ(brokenRules(run).size(), 2u) << "done with the table in flash only, silently";

    run = clean_;
    run.cameras[0].running = before_[0].running;
    EXPECT_EQ(brokenRules(run).size(), 1u) << "done on the old firmware";

    // The write-back failed and the run ended: the technician must be sent
    // to q713-restore.
    run = clean_;
    run.status = -1;
    run.out = clean_.out.substr(0, clean_.out.find("Protected registers successfully saved.")) +
              "Could not write flash. Protected registers not saved.\n"
              "Could not set flash magic. Register map not reset.\nHit <return> to quit.\n";
    EXPECT_EQ(brokenRules(run).size(), 1u) << "ended after a failed write-back without a word";
    run.out.insert(run.out.rfind("Hit <return>"),
                   "The calibration was not fully written back: save this console text and run "
                   "q713-restore with it.\n");
    EXPECT_TRUE(brokenRules(run).empty()) << run.out;

    // Input ends at the reboot prompt: the camera has the image pending, its
    // flash as before.
    run = clean_;
    run.status = -1;
    run.cameras[0] = before_[0];
    run.cameras[0].hasPending = true;
    run.out = clean_.out.substr(0, clean_.out.find("(note the blinking LEDs).") + 25);
    EXPECT_EQ(brokenRules(run).size(), 1u) << "ended half updated, silent on standard error";
    run.err +=
        "q713-update: the camera was left half updated: run q713-restore with the saved "
        "console text.\n";
    EXPECT_TRUE(brokenRules(run).empty()) << run.out;
    run.out += "------------------------\n";
    // Still before the write-back, so the stderr line stays due.
    EXPECT_EQ(brokenRules(run).size(), 1u) << "went on past the prompt and said nothing";
    // Stopped by an interrupt right after the load: half updated as well.
    run.out = clean_.out.substr(0, clean_.out.find("Firmware written.\n") + 18) +
              "Stopped at the user's request.\n";
    EXPECT_TRUE(brokenRules(run).empty()) << run.out;
    run.err = clean_.err;
    EXPECT_EQ(brokenRules(run).size(), 1u) << "stopped after the load, silent on standard error";

    // An offset that could not be read, and the update went on to done.
    run = clean_;
    run.out.insert(run.out.find("Register values:"),
                   "Could not read distance offset: register 144\n");
    EXPECT_EQ(brokenRules(run).size(), 1u) << "done after a failed capture read";
}

TEST_F(SweepDirectPath, AnyTwoFailedCallsLoseNoCalibrationSilently) {
    for (size_t first = 1; first <= clean_.calls.size(); ++first) {
        for (size_t second = first + 1; second <= clean_.calls.size(); ++second) {
            runFaulty({first, second}, -77, answers_,
                      "calls " + std::to_string(first) + " and " + std::to_string(second) +
                          " fail with -77");
        }
    }
}

}  // namespace
