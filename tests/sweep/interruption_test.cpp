// The interruption sweep: q713-update killed, as by a crash or a power loss,
// before each library call and after each progress report of each load, then
// recovered as the technician's guide says, with and without a power cycle in
// between; then q713-restore killed at each of its own calls and run again.
// Real processes against one simulated camera kept in KVX_SIM_STATE; each
// point must end with the camera on 2.3.1 holding the table that an
// uninterrupted update stores, in its registers and in flash.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "simcam/image.h"
#include "simcam/state_file.h"
#include "tests/sweep/dialogue_run.h"

namespace {

// A run takes milliseconds; one that hangs is ended by its own alarm.
constexpr unsigned kProcessSeconds = 20;

const char kDone[] = "Firmware update done.\n";
const char kRefused[] = "Firmware not supported.\n";
const char kVerified[] = "Calibration restored and verified.\n";
// A y for each (y/n) question and a return for the reboot prompt between
// them: a camera on the patch gets 2.3.1 first, is rebooted, then written;
// on 2.3.1 the first y writes.
const char kRestoreAnswers[] = "y\n\ny\n";

struct Sample {
    const char* name;
    const char* profile;  // in simcam/profiles
    const char* answers;  // of an uninterrupted update
};

const Sample kSamples[] = {
    {"path_a", "fw200.txt", "\nq\n"},
    {"path_b", "fw142-20130226.txt", "\n\nq\n"},
};

void PrintTo(const Sample& sample, std::ostream* os) {
    *os << sample.name;
}

std::string readText(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

std::string tail(const std::string& text) {
    return text.substr(text.size() > 600 ? text.size() - 600 : 0);
}

// How a process ended.
struct Ending {
    bool killed;  // by SIGKILL, as the simulated library ends it
    int status;   // exit status as the tool returned it (-1 for 255), or 1000 + the signal
    std::string out;
};

// The library calls of a traced run: numbers of every call and of the loads.
struct Calls {
    size_t count = 0;
    std::vector<size_t> loads;
};

Calls callsOf(const std::string& trace) {
    Calls calls;
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        if (line.compare(0, 4, "sim:") == 0) {
            continue;
        }
        ++calls.count;
        if (line.compare(0, 17, "KVXfirmwareUpdate") == 0 && line.size() > 5 &&
            line.compare(line.size() - 5, 5, " -> 0") == 0) {
            calls.loads.push_back(calls.count);
        }
    }
    return calls;
}

// Each kill point as the profile line that makes it.
std::vector<std::string> killPoints(const Calls& calls) {
    std::vector<std::string> points;
    for (size_t call = 1; call <= calls.count; ++call) {
        points.push_back("kill-before-call = " + std::to_string(call) + "\n");
    }
    for (size_t load : calls.loads) {
        for (int report = 1; report <= 5; ++report) {
            points.push_back("kill-in-load = " + std::to_string(load) + " " +
                             std::to_string(report) + "\n");
        }
    }
    return points;
}

// One process of a tool in the scratch folder.
struct Launch {
    const char* tool;
    const char* argument;  // null: none
    std::string input;     // all of standard input
    const char* output;    // the file standard output goes to
    bool append;           // to output, rather than over it
    std::string fault;     // a line appended to the profile
    bool powerCycle;       // the cameras are switched off and on before it starts
    bool trace;            // into trace.txt
};

// A camera the recovery met q713-restore with, and the transcript it had.
struct Start {
    std::string state;
    std::string transcript;
};

class Interruptions : public testing::TestWithParam<Sample> {
protected:
    void SetUp() override {
        started_ = time(nullptr);
        std::string pattern = std::filesystem::temp_directory_path() / "q713-interrupt-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        folder_ = pattern + "/";
        ASSERT_EQ(imageWriteKnown(folder_.c_str()), 0);
        profile_ = readText(std::string(SWEEP_PROFILE_DIR "/") + GetParam().profile);
        ASSERT_FALSE(profile_.empty());
        writeText(folder_ + "camera.txt", profile_);
        freshCamera();
        Ending clean = update("", false, false, true);
        ASSERT_EQ(clean.status, 0) << clean.out;
        ASSERT_TRUE(contains(clean.out, kDone)) << clean.out;
        updateCalls_ = callsOf(readText(folder_ + "trace.txt"));
        ASSERT_GT(updateCalls_.count, 10u);
        reference_ = camera();
    }

    void TearDown() override {
        printf(
            "%s: %d points in q713-update, %d in q713-restore (from %zu starting cameras), each "
            "without and with a power cycle: %d processes, %ld s\n",
            GetParam().name, updatePoints_, restorePoints_, restoreStarts_.size(), processes_,
            static_cast<long>(time(nullptr) - started_));
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // Chdir, descriptors and environment are set in the child alone.
    [[noreturn]] void startChild(const Launch& launch) {
        if (chdir(folder_.c_str()) != 0) {
            _exit(120);
        }
        int in = open("input.txt", O_RDONLY);
        int out =
            open(launch.output, O_WRONLY | O_CREAT | (launch.append ? O_APPEND : O_TRUNC), 0644);
        int err = open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0) {
            _exit(120);
        }
        setenv("KVX_SIM_CAMERA", launch.fault.empty() ? "camera.txt" : "faulty.txt", 1);
        setenv("KVX_SIM_STATE", "state.txt", 1);
        launch.trace ? setenv("KVX_SIM_TRACE", "trace.txt", 1) : unsetenv("KVX_SIM_TRACE");
        launch.powerCycle ? setenv("KVX_SIM_POWER_CYCLE", "1", 1) : unsetenv("KVX_SIM_POWER_CYCLE");
        char* argv[] = {const_cast<char*>(launch.tool), const_cast<char*>(launch.argument),
                        nullptr};
        alarm(kProcessSeconds);  // outlives exec: a hung tool dies of SIGALRM
        execv(launch.tool, argv);
        _exit(121);
    }

    Ending run(const Launch& launch) {
        ++processes_;
        writeText(folder_ + "input.txt", launch.input);
        writeText(folder_ + "faulty.txt", profile_ + launch.fault);
        std::string output = folder_ + launch.output;
        size_t before = launch.append ? readText(output).size() : 0;
        pid_t child = fork();
        if (child == 0) {
            startChild(launch);
        }
        int wstatus = 0;
        waitpid(child, &wstatus, 0);
        Ending ending{WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGKILL,
                      WIFEXITED(wstatus) ? static_cast<signed char>(WEXITSTATUS(wstatus))
                                         : 1000 + WTERMSIG(wstatus),
                      readText(output).substr(before)};
        std::string err = readText(folder_ + "stderr.txt");
        // Killed at its first call, a tool has not shown the banner yet; an
        // update that ended half updated says so.
        bool halfUpdated = !ending.killed && launch.tool == std::string(Q713_UPDATE) &&
                           endedHalfUpdated(ending.out, ending.status);
        EXPECT_TRUE((err.empty() && ending.killed) ||
                    err == std::string(kTrainingLine) + (halfUpdated ? kHalfUpdated : ""))
            << launch.tool << ", " << launch.fault << ": " << err;
        return ending;
    }

    Ending update(const std::string& fault, bool powerCycle, bool append, bool trace = false) {
        return run({Q713_UPDATE, nullptr, GetParam().answers, "transcript.txt", append, fault,
                    powerCycle, trace});
    }

    Ending restore(const std::string& fault, bool powerCycle, bool trace = false) {
        return run({Q713_RESTORE, "transcript.txt", kRestoreAnswers, "restore.txt", false, fault,
                    powerCycle, trace});
    }

    void freshCamera() {
        unlink((folder_ + "state.txt").c_str());
        unlink((folder_ + "trace.txt").c_str());
    }

    KeptCamera camera() {
        KeptCamera kept{};
        uint32_t current = 0;
        uint32_t line = 0;
        const char* problem = stateRead((folder_ + "state.txt").c_str(), &kept, 1, &current, &line);
        EXPECT_EQ(problem, nullptr) << "state.txt:" << line;
        return kept;
    }

    // What is wrong with the camera now; empty when it runs 2.3.1 and holds the
    // table of an uninterrupted update in its registers and in flash.
    std::string judgeCamera() {
        KeptCamera now = camera();
        std::string wrong;
        if ((now.registers[56] & 0xFFFF) != kFirmware231.version ||
            now.registers[2] != kFirmware231.release || now.hasPending) {
            wrong += " not on 2.3.1 with nothing pending;";
        }
        if (memcmp(now.flash, reference_.flash, sizeof now.flash) != 0) {
            wrong += " flash differs from an uninterrupted update's;";
        }
        for (uint32_t address : kProtectedRegisters) {
            if (now.registers[address] != reference_.registers[address]) {
                wrong += " register " + std::to_string(address) + " differs;";
            }
        }
        return wrong;
    }

    // The guide's recovery of a stopped update: the update again, its text
    // appended to the same file; when it refuses the camera, the restore on that
    // file. Empty when the camera ends recovered, else what went wrong.
    std::string recoverUpdate(bool powerCycle) {
        Ending again = update("", powerCycle, true);
        if (again.status == 0 && contains(again.out, kDone)) {
            std::string wrong = judgeCamera();
            return wrong.empty() ? "" : "the update again said done, but" + wrong;
        }
        if (!contains(again.out, kRefused)) {
            return "the update again neither completed nor refused the camera:\n" + tail(again.out);
        }
        KeptCamera met = camera();
        std::string firmware = std::to_string(met.registers[56]) + " pending " +
                               (met.hasPending ? std::to_string(met.pending.version) : "none");
        restoreStarts_.emplace(
            firmware, Start{readText(folder_ + "state.txt"), readText(folder_ + "transcript.txt")});
        return finishRestore(restore("", false), "the restore");
    }

    std::string finishRestore(const Ending& ending, const std::string& what) {
        if (ending.status != 0 || !contains(ending.out, kVerified)) {
            return what + " ended with " + std::to_string(ending.status) + ":\n" + tail(ending.out);
        }
        std::string wrong = judgeCamera();
        return wrong.empty() ? "" : what + " said verified, but" + wrong;
    }

    // Kills q713-update at each point, recovers the camera and judges it.
    void sweepUpdate() {
        for (const std::string& point : killPoints(updateCalls_)) {
            ++updatePoints_;
            for (bool powerCycle : {false, true}) {
                freshCamera();
                bool killed = update(point, false, false).killed;
                report("q713-update, " + point, powerCycle,
                       killed ? recoverUpdate(powerCycle) : "not killed there");
            }
        }
    }

    // Kills q713-restore at each point from the camera met, then runs it again.
    void sweepRestore(const std::string& firmware, const Start& met) {
        std::string from = "q713-restore from firmware " + firmware + ", ";
        writeText(folder_ + "transcript.txt", met.transcript);
        auto startOver = [this, &met]() {
            freshCamera();
            writeText(folder_ + "state.txt", met.state);
        };
        startOver();
        report(from + "uninterrupted\n", false, finishRestore(restore("", false, true), "it"));
        for (const std::string& point : killPoints(callsOf(readText(folder_ + "trace.txt")))) {
            ++restorePoints_;
            for (bool powerCycle : {false, true}) {
                startOver();
                bool killed = restore(point, false).killed;
                report(from + point, powerCycle,
                       killed ? finishRestore(restore("", powerCycle), "the restore again")
                              : "not killed there");
            }
        }
    }

    // point ends with its newline.
    void report(const std::string& point, bool powerCycle, const std::string& wrong) {
        if (!wrong.empty() && ++failures_ <= 5) {
            ADD_FAILURE() << GetParam().name << ", " << point.substr(0, point.size() - 1)
                          << (powerCycle ? ", power cycle" : "") << ": " << wrong;
        }
    }

    std::string folder_;
    std::string profile_;
    KeptCamera reference_{};
    Calls updateCalls_;
    // The first camera of each firmware, running and pending, that the recovery
    // met q713-restore with: the restore's own kill points start from each.
    std::map<std::string, Start> restoreStarts_;
    time_t started_ = 0;
    int updatePoints_ = 0;
    int restorePoints_ = 0;
    int processes_ = 0;
    int failures_ = 0;
};

TEST_P(Interruptions, EveryKilledRunIsFinishedAsTheGuideSays) {
    sweepUpdate();
    // Without a point that needs it, the state would not have outlived the process.
    ASSERT_FALSE(restoreStarts_.empty()) << "no point needed q713-restore";
    for (const auto& [firmware, met] : restoreStarts_) {
        sweepRestore(firmware, met);
    }
    EXPECT_EQ(failures_, 0) << "of " << 2 * (updatePoints_ + restorePoints_) << " runs";
}

INSTANTIATE_TEST_SUITE_P(SampleCameras, Interruptions, testing::ValuesIn(kSamples),
                         [](const testing::TestParamInfo<Sample>& sample) {
                             return std::string(sample.param.name);
                         });

}  // namespace
