// Runs the tool's whole dialogue in-process against the simulated camera and
// judges what a run did to the cameras.
#include "tests/sweep/dialogue_run.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "camera/KvxQ713.h"
#include "console/console.h"
#include "simcam/image.h"
#include "simcam/register_map.h"
#include "workflow/mainloop.h"

namespace {

// A run takes milliseconds, even under the sanitizers.
constexpr unsigned kRunSeconds = 10;

constexpr uint32_t kTableAddresses[14] = {26,  27,  28,  29,  30,  31,  32,
                                          120, 121, 122, 123, 124, 125, 126};
constexpr char kTableHeading[] = "Register values:\n";
constexpr char kDone[] = "Firmware update done.";
constexpr const char* kFailureLines[] = {"ERROR", "Could not", "Failed", "Stopped",
                                         "Firmware update failed"};
// The lines of a write-back step that failed, each after a newline.
constexpr const char* kWriteBackFailures[] = {
    "\nCould not write protected register", "\nCould not set flash magic",
    "\nCould not write flash", "\nCould not reset register map"};
constexpr char kSendsToRestore[] = "save this console text and run q713-restore with it.";
constexpr char kIdentityFailed[] = "Failed to get Camera version information!";
// A frequency or offset read that failed during capture.
constexpr const char* kCaptureFailures[] = {"\nCould not read modulation frequency",
                                            "\nCould not read distance offset"};
constexpr char kLoading[] = "Loading firmware";
// The first line of a write-back, each after a newline.
constexpr const char* kWriteBackStarts[] = {
    "\nData written: ", "\nCould not write protected register",
    "\nNo register data to be written."};
constexpr const char* kRebootPrompts[] = {
    "Now please reboot the camera and press <return> when it is up again.",
    "Now please reboot the camera and press <return> when it is up again (note the blinking "
    "LEDs)."};

std::string gFolder;
std::string gProfilePath;
std::string gTracePath;
char gRunLabel[256];

void onHang(int) {
    static const char prefix[] = "sweep: this run did not end in time: ";
    ssize_t written = write(STDERR_FILENO, prefix, sizeof prefix - 1);
    written += write(STDERR_FILENO, gRunLabel, strlen(gRunLabel));
    written += write(STDERR_FILENO, "\n", 1);
    _exit(written > 0 ? 2 : 3);
}

void removeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(gFolder, ignored);
}

// One scratch folder per process, the tool's working folder from then on.
void prepareFolder() {
    if (!gFolder.empty()) {
        return;
    }
    std::string pattern = std::filesystem::temp_directory_path() / "q713-sweep-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr || imageWriteKnown(pattern.c_str()) != 0 ||
        chdir(pattern.c_str()) != 0) {
        perror("sweep: scratch folder");
        abort();
    }
    gFolder = pattern;
    gProfilePath = gFolder + "/camera.txt";
    gTracePath = gFolder + "/trace.txt";
    atexit(removeFolder);
    setenv("KVX_SIM_CAMERA", gProfilePath.c_str(), 1);
    setenv("KVX_SIM_TRACE", gTracePath.c_str(), 1);
    signal(SIGALRM, onHang);
}

// A fresh library reading profile at its first call, with an empty trace.
void startCamera(const std::string& profile) {
    prepareFolder();
    simReset();
    std::ofstream(gProfilePath, std::ios::binary | std::ios::trunc) << profile;
    unlink(gTracePath.c_str());
}

std::vector<SimCameraView> cameraViews() {
    std::vector<SimCameraView> views;
    SimCameraView view{};
    for (uint32_t i = 0; simCameraView(i, &view); ++i) {
        views.push_back(view);
    }
    return views;
}

std::vector<std::string> callLines() {
    std::vector<std::string> calls;
    std::ifstream trace(gTracePath);
    for (std::string line; std::getline(trace, line);) {
        if (line.compare(0, 4, "sim:") != 0) {
            calls.push_back(line);
        }
    }
    return calls;
}

std::string taken(char* text, size_t size) {
    std::string copy(text != nullptr ? text : "", text != nullptr ? size : 0);
    free(text);
    return copy;
}

// The lines of text, each without its newline and without the CR the repeat
// prompt leaves at the start of the next line.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        line.erase(0, line.find_first_not_of('\r'));
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

bool showsFailureLine(const std::string& text) {
    for (const std::string& line : linesOf(text)) {
        for (const char* failure : kFailureLines) {
            if (line.compare(0, strlen(failure), failure) == 0) {
                return true;
            }
        }
    }
    return false;
}

namespace {

bool showsDone(const std::string& text) {
    for (const std::string& line : linesOf(text)) {
        if (line == kDone) {
            return true;
        }
    }
    return false;
}

bool endsWith(const std::string& text, const char* tail) {
    size_t n = strlen(tail);
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

bool runs231(const SimCameraView& camera) {
    uint32_t v = camera.running.version;
    return (v >> 11 & 31) == 2 && (v >> 6 & 31) == 3 && (v & 63) == 1;
}

bool sameWords(const uint32_t* a, const uint32_t* b) {
    return memcmp(a, b, 14 * sizeof *a) == 0;
}

bool unchanged(const SimCameraView& now, const SimCameraView& before) {
    return now.running.version == before.running.version &&
           now.running.release == before.running.release && !now.hasPending &&
           sameWords(now.calibration, before.calibration) && sameWords(now.flash, before.flash);
}

std::string words(const uint32_t* values) {
    std::string text;
    char word[32];
    for (int i = 0; i < 14; ++i) {
        snprintf(word, sizeof word, " %u=0x%x", kTableAddresses[i], values[i]);
        text += word;
    }
    return text;
}

std::string describe(const SimCameraView& camera) {
    char text[96];
    uint32_t v = camera.running.version;
    snprintf(text, sizeof text, "running %u.%u.%u, %s, flash", v >> 11 & 31, v >> 6 & 31, v & 63,
             camera.hasPending ? "firmware pending" : "nothing pending");
    return text + words(camera.flash);
}

}  // namespace

DialogueRun runDialogue(const std::string& profile, const std::string& input,
                        const std::string& label) {
    startCamera(profile);
    std::string answers = input;
    FILE* in =
        answers.empty() ? fopen("/dev/null", "r") : fmemopen(answers.data(), answers.size(), "r");
    char* outText = nullptr;
    char* errText = nullptr;
    size_t outSize = 0;
    size_t errSize = 0;
    // Memory streams never fill, so no write of the tool ever fails.
    FILE* out = open_memstream(&outText, &outSize);
    FILE* err = open_memstream(&errText, &errSize);
    if (in == nullptr || out == nullptr || err == nullptr) {
        perror("sweep: memory streams");
        abort();
    }
    FILE* keptIn = stdin;
    FILE* keptOut = stdout;
    FILE* keptErr = stderr;
    stdin = in;
    stdout = out;
    stderr = err;
    snprintf(gRunLabel, sizeof gRunLabel, "%s", label.c_str());
    alarm(kRunSeconds);
    DialogueRun run;
    startConsole();
    run.status = runMainLoop();
    alarm(0);
    stdin = keptIn;
    stdout = keptOut;
    stderr = keptErr;
    fclose(in);
    fclose(out);
    fclose(err);
    run.out = taken(outText, outSize);
    run.err = taken(errText, errSize);
    run.calls = callLines();
    run.cameras = cameraViews();
    return run;
}

std::vector<SimCameraView> camerasBefore(const std::string& profile) {
    startCamera(profile);
    KvxConfig config;
    KVXinitConfig(&config);  // the first call reads the profile
    return cameraViews();
}

std::vector<PrintedTable> printedTables(const std::string& out) {
    std::vector<PrintedTable> tables;
    for (size_t start = out.find(kTableHeading); start != std::string::npos;
         start = out.find(kTableHeading, start + 1)) {
        PrintedTable table{start, start + strlen(kTableHeading), true, {}};
        for (int row = 0; row < 14 && table.complete; ++row) {
            size_t lineEnd = out.find('\n', table.end);
            int address = 0;
            int value = 0;
            char dot = 0;
            table.complete = lineEnd != std::string::npos &&
                             sscanf(out.c_str() + table.end, "\taddress = %d, data = %d%c",
                                    &address, &value, &dot) == 3 &&
                             dot == '.' && address == static_cast<int>(kTableAddresses[row]);
            if (table.complete) {
                table.values[row] = static_cast<uint32_t>(value);
                table.end = lineEnd + 1;
            }
        }
        tables.push_back(table);
    }
    return tables;
}

bool endedHalfUpdated(const std::string& out, int status) {
    size_t written = out.rfind("Firmware written.");
    bool halfUpdated = status == -1 && written != std::string::npos;
    for (const char* start : kWriteBackStarts) {
        halfUpdated = halfUpdated && out.find(start, written) == std::string::npos;
    }
    return halfUpdated;
}

RunVerdict judgeRun(const DialogueRun& run, const std::vector<SimCameraView>& before) {
    RunVerdict verdict;
    std::vector<std::string>& broken = verdict.broken;
    if (run.status != 0 && run.status != -1) {
        broken.push_back("exit status " + std::to_string(run.status));
    }
    // Input that ends at a reboot prompt ends the run with nothing more printed:
    // nobody confirmed the reboot, the table stands above the prompt and the exit
    // status reports the failure.
    bool endedAtReboot = run.status == -1 && (endsWith(run.out, kRebootPrompts[0]) ||
                                              endsWith(run.out, kRebootPrompts[1]));
    // Half updated, the camera is named so on standard error in one line.
    bool halfUpdated = endedHalfUpdated(run.out, run.status);
    // Against the simulated camera the training line, and nothing else.
    std::string err = std::string(kTrainingLine) + (halfUpdated ? kHalfUpdated : "");
    if (run.err != err) {
        std::string first = run.err.substr(run.err.find('\n') + 1);
        broken.push_back(halfUpdated ? "ended half updated without its line on stderr"
                                     : "wrote to stderr: " + first.substr(0, first.find('\n')));
    }
    // A value the capture could not read would be written back as 0: the run
    // ends before anything is loaded.
    for (const char* failure : kCaptureFailures) {
        size_t at = run.out.find(failure);
        if (at != std::string::npos &&
            (showsDone(run.out.substr(at)) || run.out.find(kLoading, at) != std::string::npos)) {
            broken.push_back("a capture read failed and the run went on to load the firmware");
        }
    }
    if (run.cameras.size() != before.size() || before.empty()) {
        broken.push_back("the profile's cameras changed in number");
        return verdict;
    }
    std::vector<PrintedTable> tables = printedTables(run.out);
    size_t firstTable = tables.empty() ? run.out.size() : tables[0].start;
    if (showsDone(run.out.substr(0, firstTable))) {
        broken.push_back("\"Firmware update done.\" before any calibration table");
    }
    // A pass goes on to the next camera only after a completed update (the
    // last camera of a profile stays).
    std::vector<int> lastTable(before.size(), -1);
    std::vector<bool> keptBy(tables.size());
    std::vector<bool> failureAfter(tables.size());
    for (size_t t = 0; t < tables.size(); ++t) {
        size_t passes = 0;
        for (const std::string& line : linesOf(run.out.substr(0, tables[t].start))) {
            passes += line == kDone ? 1 : 0;
        }
        size_t c = passes < before.size() ? passes : before.size() - 1;
        const SimCameraView& camera = run.cameras[c];
        lastTable[c] = static_cast<int>(t);
        size_t next = t + 1 < tables.size() ? tables[t + 1].start : run.out.size();
        std::string after = run.out.substr(tables[t].end, next - tables[t].end);
        keptBy[t] = tables[t].complete && sameWords(camera.flash, tables[t].values) &&
                    sameWords(camera.calibration, tables[t].values);
        failureAfter[t] = showsFailureLine(after);
        if (!showsDone(after)) {
            continue;
        }
        std::string which = "camera " + std::to_string(c + 1) + " ";
        if (!runs231(camera)) {
            broken.push_back(which + "reported done but not on 2.3.1: " + describe(camera));
        } else if (!keptBy[t]) {
            // Whatever failed on the way, "done" promises the calibration kept.
            broken.push_back(which + "reported done without the table in flash and registers: " +
                             describe(camera));
        }
    }
    for (size_t c = 0; c < before.size(); ++c) {
        int t = lastTable[c];
        bool accountedFor = t >= 0 && (keptBy[t] || failureAfter[t] ||
                                       (endedAtReboot && t == static_cast<int>(tables.size()) - 1));
        if (!unchanged(run.cameras[c], before[c]) && !accountedFor) {
            broken.push_back("camera " + std::to_string(c + 1) +
                             " lost its calibration silently: " + describe(run.cameras[c]) +
                             (t >= 0 ? "; table" + words(tables[t].values) : "; no table"));
        }
    }
    // A failed write-back step leaves the calibration in doubt. Unless the
    // run went on to say done (judged above) or could not read the identity
    // (whose message sends the technician on), it must end sending them to
    // q713-restore.
    size_t failed = std::string::npos;
    for (const char* failure : kWriteBackFailures) {
        size_t at = run.out.rfind(failure);
        failed =
            at != std::string::npos && (failed == std::string::npos || at > failed) ? at : failed;
    }
    if (failed != std::string::npos) {
        std::string rest = run.out.substr(failed);
        if (!showsDone(rest) && rest.find(kSendsToRestore) == std::string::npos &&
            rest.find(kIdentityFailed) == std::string::npos) {
            broken.push_back(
                "a write-back step failed and the run ended without sending the "
                "technician to q713-restore");
        }
    }
    return verdict;
}
