// Profile parsing: what each line sets, how bad lines are reported, and that
// a rejected profile leaves no camera answering.
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "simcam/profile.h"
#include "simcam_test_support.h"

namespace {

Profile gProfile;  // too large for the stack

const Profile& parse(const std::string& text) {
    profileParse(text.data(), text.size(), &gProfile);
    return gProfile;
}

TEST(ProfileParsing, camera_section_sets_identity_registers_flash_and_sequences) {
    const Profile& p = parse(
        "# comment line\r\n\n[camera]\r\n"
        "firmware = 1.4.2   # trailing comment\n"
        "release = 26.02.2013\npon = 0xabc\nserial = 0x12345\n"
        "register 300 = -1\nregister 26 = 0x55\nflash 27 = 9\n"
        "sequence 11 = 30000000 -12\nopen-fails = 2 -3\n");
    ASSERT_EQ(p.errorCount, 0u) << p.errors[0].message;
    ASSERT_EQ(p.cameraCount, 1u);
    const ProfileCamera& c = p.cameras[0];
    EXPECT_EQ(c.registers[56], 0x0902u);
    EXPECT_EQ(c.registers[2], 0x26022013u);
    EXPECT_EQ(c.registers[1], 0xABC12345u);
    EXPECT_EQ(c.registers[300], 0xFFFFFFFFu);
    EXPECT_EQ(c.registers[240], 30000000u);
    EXPECT_EQ(c.registers[244], 0xFFFFFFF4u);
    EXPECT_EQ(c.flash[0], 0x55u) << "flash starts as the register unless given";
    EXPECT_EQ(c.flash[1], 9u);
    EXPECT_EQ(c.openFails, 2u);
    EXPECT_EQ(c.openFailStatus, -3);
}

TEST(ProfileParsing, each_camera_section_is_another_camera_starting_as_the_built_in_one) {
    ProfileCamera builtIn;
    profileDefaultCamera(&builtIn);
    const Profile& p = parse("fail-call = 12 -5\n[camera]\nserial = 1\n[camera]\nserial = 2\n");
    ASSERT_EQ(p.errorCount, 0u);
    ASSERT_EQ(p.cameraCount, 2u);
    EXPECT_EQ(p.cameras[1].registers[1] & 0xFFFFF, 2u);
    EXPECT_EQ(p.cameras[1].registers[26], builtIn.registers[26]);
    ASSERT_EQ(p.callFaultCount, 1u);
    EXPECT_EQ(p.callFaults[0].call, 12u);
}

TEST(ProfileParsing, a_profile_without_camera_sections_is_the_built_in_camera) {
    const Profile& p = parse("fail-call = 3 -5\n");
    ASSERT_EQ(p.errorCount, 0u);
    ASSERT_EQ(p.cameraCount, 1u);
    EXPECT_EQ(p.cameras[0].registers[56], 0x1000u) << "2.0.0";
}

TEST(ProfileParsing, a_lone_cr_ends_a_line_even_after_a_leading_comment) {
    const Profile& p =
        parse("# old Mac line ends\r[camera]\rserial = 7\r\r[camera]\r\ncolour = red\r");
    ASSERT_EQ(p.errorCount, 1u);
    EXPECT_EQ(p.errors[0].line, 6u) << "CR LF is one line end, CR alone another";
    ASSERT_EQ(p.cameraCount, 2u);
    EXPECT_EQ(p.cameras[0].registers[1] & 0xFFFFF, 7u);
}

TEST(ProfileParsing, february_29_only_in_leap_years) {
    EXPECT_EQ(parse("[camera]\nrelease = 29.02.2012\n").errorCount, 0u);
    EXPECT_EQ(parse("[camera]\nrelease = 29.02.2000\n").errorCount, 0u);
    EXPECT_EQ(parse("[camera]\nrelease = 29.02.2013\n").errorCount, 1u);
    EXPECT_EQ(parse("[camera]\nrelease = 29.02.1900\n").errorCount, 1u);
}

struct BadLine {
    const char* name;
    const char* line;
    const char* message;
};

class ProfileBadLine : public ::testing::TestWithParam<BadLine> {};

TEST_P(ProfileBadLine, is_reported_with_its_line_number) {
    const Profile& p = parse(std::string("# a camera\n[camera]\n") + GetParam().line + "\n");
    ASSERT_EQ(p.errorCount, 1u);
    EXPECT_EQ(p.errors[0].line, 3u);
    EXPECT_NE(strstr(p.errors[0].message, GetParam().message), nullptr) << p.errors[0].message;
}

INSTANTIATE_TEST_SUITE_P(
    ProfileParsing, ProfileBadLine,
    ::testing::Values(
        BadLine{"unknown_key", "colour = red", "unknown key 'colour'"},
        BadLine{"malformed_decimal", "serial = 12z", "malformed number '12z'"},
        BadLine{"hex_without_digits", "serial = 0x", "malformed number"},
        BadLine{"serial_too_large", "serial = 1048576", "out of range"},
        BadLine{"register_beyond_1023", "register 1024 = 1",
                "1024 out of range (expected 0..1023)"},
        BadLine{"word_beyond_32_bits", "register 26 = 4294967296", "out of range"},
        BadLine{"sequence_beyond_11", "sequence 12 = 1 2", "12 out of range (expected 0..11)"},
        BadLine{"missing_value", "sequence 1 = 5000000", "expected 'sequence I = HZ OFFSET'"},
        BadLine{"extra_value", "pon = 1 2", "expected 'pon = N'"},
        BadLine{"missing_index", "register = 5", "expected 'register A = WORD'"},
        BadLine{"unexpected_index", "pon 3 = 1", "expected 'pon = N'"},
        BadLine{"flash_of_unprotected_register", "flash 40 = 1", "not kept in flash"},
        BadLine{"zero_status", "read-fails = 56 0",
                "0 out of range (expected a nonzero 32-bit status)"},
        BadLine{"short_version", "firmware = 2.0", "bad firmware version '2.0'"},
        BadLine{"version_out_of_range", "firmware = 32.0.0", "bad firmware version '32.0.0'"},
        BadLine{"impossible_date", "release = 31.02.2013",
                "bad release date '31.02.2013' (expected a calendar day"},
        BadLine{"two_digit_year", "release = 1.2.13", "bad release date '1.2.13'"},
        BadLine{"no_equals_sign", "just words", "expected 'key = value'"},
        BadLine{"unknown_section", "[cameras]", "unknown section"},
        BadLine{"negative_load_time", "load-ms = -5", "-5 out of range (expected 0..600000)"},
        BadLine{"never_reboots_not_a_flag", "never-reboots = 2", "out of range (expected 0 or 1)"}),
    [](const ::testing::TestParamInfo<BadLine>& test) { return std::string(test.param.name); });

TEST(ProfileParsing, every_bad_line_is_reported_not_only_the_first) {
    std::string text = "serial = 5\n[camera]\nbad = 1\nserial = 5\nworse = 2\n";
    for (int i = 0; i < 16; ++i) {
        text += "[camera]\n";
    }
    const Profile& p = parse(text);
    ASSERT_EQ(p.errorCount, 4u);
    EXPECT_NE(strstr(p.errors[0].message, "outside a [camera] section"), nullptr);
    EXPECT_EQ(p.errors[1].line, 3u);
    EXPECT_EQ(p.errors[2].line, 5u);
    EXPECT_NE(strstr(p.errors[3].message, "more than 16 cameras"), nullptr);
}

TEST(ProfileParsing, no_prefix_of_a_profile_is_read_past_its_end) {
    std::string text = readText(SIMCAM_PROFILE_DIR "/demo.txt") + "fail-call = 0x";
    for (size_t size = 0; size <= text.size(); ++size) {
        std::vector<char> exact(text.begin(), text.begin() + static_cast<long>(size));
        profileParse(exact.data(), exact.size(), &gProfile);  // the sanitizer build checks reads
    }
    EXPECT_GT(gProfile.errorCount, 0u) << "the cut-off hex number at the end";
}

struct Sample {
    const char* name;
    const char* file;
    uint32_t cameras;
    uint32_t lastVersion;
    uint32_t lastRelease;
};

class SampleProfile : public ::testing::TestWithParam<Sample> {};

TEST_P(SampleProfile, parses_cleanly_into_the_cameras_its_name_promises) {
    std::string text = readText(std::string(SIMCAM_PROFILE_DIR "/") + GetParam().file);
    const Profile& p = parse(text);
    ASSERT_EQ(p.errorCount, 0u) << p.errors[0].line << ": " << p.errors[0].message;
    ASSERT_EQ(p.cameraCount, GetParam().cameras);
    EXPECT_EQ(p.cameras[p.cameraCount - 1].registers[56], GetParam().lastVersion);
    EXPECT_EQ(p.cameras[p.cameraCount - 1].registers[2], GetParam().lastRelease);
}

INSTANTIATE_TEST_SUITE_P(
    ProfileParsing, SampleProfile,
    ::testing::Values(Sample{"fw200", "fw200.txt", 1, 0x1000, 0x14112013},
                      Sample{"fw142", "fw142-20130226.txt", 1, 0x0902, 0x26022013},
                      Sample{"fw231", "fw231.txt", 1, 0x10C1, 0x28102015},
                      Sample{"demo", "demo.txt", 3, 0x10C1, 0x28102015}),
    [](const ::testing::TestParamInfo<Sample>& test) { return std::string(test.param.name); });

using ProfileLoading = SimcamTest;

TEST_F(ProfileLoading, a_bad_line_is_reported_as_file_and_line_and_no_camera_answers) {
    useProfile("[camera]\nserial = 5\ncolour = red\n");
    ::testing::internal::CaptureStderr();
    KvxHandle handle = nullptr;
    EXPECT_EQ(tryOpen(&handle), -100);
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(errors.find("profile.txt:3: unknown key 'colour'\n"), std::string::npos) << errors;
    EXPECT_EQ(tryOpen(&handle), -100) << "every open fails, not just the first";
}

TEST_F(ProfileLoading, a_missing_profile_is_reported_without_a_line_and_no_camera_answers) {
    useProfile("");
    std::filesystem::remove(folder_ / "profile.txt");
    ::testing::internal::CaptureStderr();
    KvxHandle handle = nullptr;
    EXPECT_EQ(tryOpen(&handle), -100);
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(errors.rfind("profile.txt: no such file\n", 0), 0u) << errors;
}

TEST_F(ProfileLoading, a_profile_over_64_kib_is_refused_with_the_limit_named) {
    std::string exact = "[camera]\nserial = 5\n";
    exact += std::string(65536 - exact.size() - 1, '#') + "\n";
    useProfile(exact);
    KvxHandle handle = nullptr;
    EXPECT_EQ(tryOpen(&handle), 0) << "65536 bytes is still a profile";
    simReset();
    useProfile(exact + "\n");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(tryOpen(&handle), -100);
    std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(
        errors.rfind("profile.txt: larger than 65536 bytes, the most a profile may hold\n", 0), 0u)
        << errors;
}

// A fifo would block the open until a writer came; the alarm turns a hang into a failure.
TEST_F(ProfileLoading, anything_but_a_regular_file_is_refused_at_once) {
    ASSERT_EQ(mkfifo("fifo", 0600), 0);
    std::filesystem::create_directory("folder");
    for (const char* name : {"fifo", "folder"}) {
        simReset();
        setenv("KVX_SIM_CAMERA", name, 1);
        EXPECT_EXIT(
            {
                alarm(5);
                KvxHandle handle = nullptr;
                bool refused = tryOpen(&handle) == -100 && tryOpen(&handle) == -100;
                exit(refused ? 0 : 1);
            },
            ::testing::ExitedWithCode(0), std::string(name) + ": not a regular file\n");
    }
}

}  // namespace
