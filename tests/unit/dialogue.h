// Test helpers for the console: scripted standard input and captured output.
#ifndef TESTS_UNIT_DIALOGUE_H
#define TESTS_UNIT_DIALOGUE_H

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

/// Makes standard input read exactly text, then end.
inline void feedInput(const std::string& text) {
    // One file per test, so tests of several binaries can run side by side.
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    std::string path =
        testing::TempDir() + "q713_input_" + test->test_suite_name() + "_" + test->name() + ".txt";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    ASSERT_NE(std::freopen(path.c_str(), "rb", stdin), nullptr);
}

/// What the rest of standard input still holds.
inline std::string pendingInput() {
    std::string rest;
    for (int c = std::getchar(); c != EOF; c = std::getchar()) {
        rest += static_cast<char>(c);
    }
    return rest;
}

#endif
