// Shared fixture for the simulated camera tests: a fresh library, an empty
// working folder, and short helpers around the six calls.
#ifndef SIMCAM_TEST_SUPPORT_H
#define SIMCAM_TEST_SUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "camera/KvxQ713.h"
#include "simcam/image.h"
#include "simcam/sim_state.h"

// The maker's names, as the tools hand them, and the files the library reads for them.
inline const char* const kImage231 = "20151028_Lumivor-Q713_v2.3.1.bin";
inline const char* const kImagePatch = "20140827_Lumivor-Q713_v0.0.0_patch.bin";
inline const char* const kImage231File = "training-firmware-2.3.1.bin";
inline const char* const kImagePatchFile = "training-patch-0.0.0.bin";

inline std::string readText(const std::filesystem::path& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline void writeText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Each test runs in its own empty folder, without KVX_SIM_* variables, and
// the library has seen no call yet.
class SimcamTest : public ::testing::Test {
protected:
    void SetUp() override {
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        // The process id keeps two suites run at once (two builds, two
        // checkouts) out of each other's folders.
        folder_ = std::filesystem::temp_directory_path() /
                  (std::string("simcam-") + std::to_string(getpid()) + "-" +
                   test->test_suite_name() + "-" + test->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(folder_);
        unsetenv("KVX_SIM_CAMERA");
        unsetenv("KVX_SIM_TRACE");
        simReset();
    }

    void TearDown() override {
        simReset();
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(folder_);
    }

    void useProfile(const std::string& text) {
        writeText(folder_ / "profile.txt", text);
        setenv("KVX_SIM_CAMERA", "profile.txt", 1);
    }

    void useTrace() {
        setenv("KVX_SIM_TRACE", (folder_ / "trace.txt").c_str(), 1);
    }

    std::vector<std::string> traceLines() {
        std::vector<std::string> lines;
        std::ifstream in(folder_ / "trace.txt");
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }

    void writeImages() {
        ASSERT_EQ(imageWriteKnown("."), 0);
    }

    int32_t tryOpen(KvxHandle* handle) {
        KvxConfig config;
        int32_t status = KVXinitConfig(&config);
        return status != 0 ? status : KVXopen(&config, handle);
    }

    KvxHandle open() {  // KVXinitConfig and KVXopen, both expected to succeed
        KvxHandle handle = nullptr;
        EXPECT_EQ(tryOpen(&handle), 0);
        return handle;
    }

    int32_t close(KvxHandle handle) {
        return KVXclose(&handle);
    }

    int32_t tryRead(KvxHandle handle, uint32_t address, uint32_t* value) {
        return KVXreadRegister(handle, address, value, nullptr);
    }

    uint32_t read(KvxHandle handle, uint32_t address) {  // expected to succeed
        uint32_t value = 0xDEADBEEF;
        EXPECT_EQ(tryRead(handle, address, &value), 0) << "register " << address;
        return value;
    }

    int32_t write(KvxHandle handle, uint32_t address, uint32_t value) {
        uint32_t count = 1;
        return KVXwriteRegister(handle, address, &value, &count);
    }

    int32_t load(KvxHandle handle, const char* fileName) {
        return KVXfirmwareUpdate(handle, reinterpret_cast<const uint8_t*>(fileName), nullptr);
    }

    KvxHandle update(KvxHandle handle, const char* fileName) {  // load, close, reopen: reboot
        EXPECT_EQ(load(handle, fileName), 0);
        EXPECT_EQ(close(handle), 0);
        return open();
    }

    std::filesystem::path folder_;
    std::filesystem::path previous_;
};

#endif
